// The receipt under construction: the register takes a whole receipt as one JSON
// document ({"F":[...]}, {"R":[...]} or {"P":[...]}), so its elements are collected here
// and sent when the receipt is closed. Texts are escaped as JSON strings.
#pragma once

#include <cstdint>
#include <string>

namespace oltra {

class ReceiptBuffer {
public:
    // type: u"F" sale, u"R" return, u"P" non-fiscal; model: the register's model.
    ReceiptBuffer(std::u16string type, std::string model);

    // Appends one element (a JSON object text), separated from the previous one by ",".
    void appendElement(const std::u16string& element);

    // {"S":{...}}: code is the CRC-32 of the UTF-8 name; department below 1 is sent as 1.
    void addItem(const std::u16string& name, double quantity, double price, double sum, int32_t department,
                 double taxGroup);
    // {"D":{"sum":VALUE,"all":0}}; a negative value is a discount, a positive one a markup.
    void addDiscount(double value);
    // {"P":{"no":NUMBER, "sum" : AMOUNT}}
    void addPayment(const std::u16string& typeDigit, double amount);
    // {"BC":{...}}; type EAN13, CODE128 or CODE39 (any case, blanks and "-" ignored).
    void addBarcode(const std::u16string& type, const std::u16string& barcode);
    // One {"N":{"cm":...}} per 22-character piece.
    void addText(const std::u16string& text);
    // Appends the payments in the order the model numbers them, then replaces the elements
    // by the whole document and returns it.
    std::u16string finishReceipt(double sum1, double sum2, double sum3, double sum4);

    // CRC-32 of the UTF-8 bytes of a name.
    static uint32_t itemCode(const std::u16string& name);
    // Whether a model numbers payments the 707 way.
    static bool isModel707(const std::string& model);

    const std::u16string& type() const { return type_; }
    const std::u16string& items() const { return items_; }
    const std::string& model() const { return model_; }
    bool empty() const { return items_.empty(); }

private:
    std::u16string type_;
    std::u16string items_;
    std::string model_;
};

} // namespace oltra
