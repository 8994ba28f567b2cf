#include "netclient/receipt_buffer.h"

#include "netclient/text_format.h"

#include "netclient/client_log.h"
#include "textconv/utf.h"

#include <Poco/Checksum.h>

#include <cmath>
#include <utility>

namespace oltra {

namespace {

std::u16string ascii(const std::string& s) { return std::u16string(s.begin(), s.end()); }

} // namespace

ReceiptBuffer::ReceiptBuffer(std::u16string type, std::string model) : type_(std::move(type)), model_(std::move(model))
{}

void ReceiptBuffer::appendElement(const std::u16string& element)
{
    if (!items_.empty()) items_ += u',';
    items_ += element;
}

uint32_t ReceiptBuffer::itemCode(const std::u16string& name)
{
    Poco::Checksum crc(Poco::Checksum::TYPE_CRC32);
    const std::string utf8 = textconv::toUtf8(name);
    crc.update(utf8);
    return crc.checksum();
}

bool ReceiptBuffer::isModel707(const std::string& model)
{
    return model.find("707") != std::string::npos || model.find("7O7") != std::string::npos ||
           model.find("7o7") != std::string::npos;
}

void ReceiptBuffer::addItem(const std::u16string& name, double quantity, double price, double sum, int32_t department,
                            double taxGroup)
{
    appendElement(u"{\"S\":{\"code\":" + ascii(std::to_string(itemCode(name))) + u",\"name\":\"" + jsonEscape(name) +
                  u"\",\"qty\":" + fixedNumber16(quantity, 3) + u",\"price\":" + fixedNumber16(price, 2) +
                  u",\"sum\":" + fixedNumber16(sum, 2) + u",\"dep\":" +
                  ascii(std::to_string(department < 1 ? 1 : department)) + u",\"grp\":1,\"tax\":" +
                  fixedNumber16(taxGroup, 0) + u"}}");
}

void ReceiptBuffer::addDiscount(double value)
{
    const std::u16string text = fixedNumber16(value, 2);
    netlog::debug(u"DISCOUNT: " + text);
    appendElement(u"{\"D\":{\"sum\":" + text + u",\"all\":0}}");
}

void ReceiptBuffer::addPayment(const std::u16string& typeDigit, double amount)
{
    appendElement(u"{\"P\":{\"no\":" + typeDigit + u", \"sum\" : " + fixedNumber16(amount, 2) + u"}}");
}

void ReceiptBuffer::addBarcode(const std::u16string& type, const std::u16string& barcode)
{
    std::u16string normal;
    for (char16_t c : type) {
        if (c == u' ' || c == u'-') continue;
        normal += (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c;
    }
    std::u16string digit;
    if (normal == u"EAN13") digit = u"1";
    else if (normal == u"CODE128") digit = u"2";
    else if (normal == u"CODE39") digit = u"3";
    else
        netlog::error(u"Помилковий формат штрих коду: " + normal +
                      u". Підтримуються тільки наступні типи штрих кодів: EAN13, CODE39, CODE128");
    appendElement(u"{\"BC\":{\"code\":\"" + jsonEscape(barcode) + u"\",\"type\":\"" + digit + u"\"}}");
}

void ReceiptBuffer::addText(const std::u16string& text)
{
    for (const std::u16string& piece : splitCharacters(text, 22))
        appendElement(u"{\"N\":{\"cm\":\"" + jsonEscape(piece) + u"\"}}");
}

std::u16string ReceiptBuffer::finishReceipt(double sum1, double sum2, double sum3, double sum4)
{
    struct Pay {
        double sum;
        const char16_t* digit;
    };
    const bool m707 = isModel707(model_);
    const Pay order707[] = {{sum1, u"1"}, {sum4, u"2"}, {sum3, u"3"}, {sum2, u"4"}};
    const Pay orderOther[] = {{sum2, u"1"}, {sum3, u"2"}, {sum4, u"3"}, {sum1, u"4"}};
    for (const Pay& p : m707 ? order707 : orderOther)
        if (p.sum > 0 && std::isfinite(p.sum)) addPayment(p.digit, p.sum);
    items_ = u"{\"" + type_ + u"\":[" + items_ + u"]}";
    return items_;
}

} // namespace oltra
