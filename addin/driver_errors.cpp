#include "addin/driver_errors.h"
#include "addin/driver_log.h"
#include "textconv/utf.h"

namespace oltra {

const char16_t kErrorSource[] = u"Драйвер ФР Oltra";

namespace {

struct ErrorEntry {
    int32_t code;
    const char16_t* text;
};

const ErrorEntry kErrorTable[] = {
    {kErrorNotConnected, u"Драйвер не подключен к фискальному регистратору"},
    {kErrorAuthentication, u"Не верно указано имя пользователя или пароль для подключения к фискальному регистратору"},
    {kErrorTimeout, u"Истекло время ожидания при подключении к фискальному регистратору"},
    {kErrorNoAddress, u"Не указан IP адрес, а авто поиск не нашел фискальный регистратор"},
    {kErrorNoRegisterState, u"По указанному адресу не получено состояние фискального регистратора"},
    {kErrorBadArgument, u"Недопустимое значение параметра, в фискальный регистратор ничего не отправлено"},
};

void report(IAddInDefBase* connection, int32_t code, const std::u16string& text)
{
    if (connection) {
        // The host gets copies of its own; they live until AddError returns.
        const std::u16string source(kErrorSource);
        const std::u16string description(text);
        connection->AddError(static_cast<unsigned short>(code), source.c_str(), description.c_str(), code);
    }
    logError(textconv::toUtf8(text) + " code:" + std::to_string(code));
}

} // namespace

const char16_t* driverErrorText(int32_t code)
{
    for (const ErrorEntry& e : kErrorTable)
        if (e.code == code) return e.text;
    return nullptr;
}

void reportError(IAddInDefBase* connection, int32_t code)
{
    const char16_t* text = driverErrorText(code);
    report(connection, code, text ? std::u16string(text) : std::u16string());
}

std::u16string noRegisterStateText(const std::string& address, const std::string& detail)
{
    return std::u16string(driverErrorText(kErrorNoRegisterState)) + u": " +
           textconv::toUtf16(address.empty() ? detail : address + " (" + detail + ")");
}

void reportError(IAddInDefBase* connection, int32_t code, const std::u16string& detail)
{
    const char16_t* text = driverErrorText(code);
    report(connection, code, (text ? std::u16string(text) : std::u16string()) + u": " + detail);
}

void reportException(IAddInDefBase* connection, int32_t code, const std::string& displayText)
{
    const char16_t* text = driverErrorText(code);
    report(connection, code, text ? std::u16string(text) : textconv::toUtf16(displayText));
}

std::u16string networkFailureText(const RegisterFailure& failure, const std::string& address)
{
    const std::u16string at = textconv::toUtf16(address);
    std::u16string text;
    switch (failure.cause()) {
    case RegisterFailure::Cause::Refused:
        text = u"Фискальный регистратор по адресу " + at +
               u" не принимает соединение: проверьте, что он включен, и IP адрес и порт в параметре IP";
        break;
    case RegisterFailure::Cause::UnknownHost:
        text = u"Не найден адрес " + at + u": проверьте IP адрес фискального регистратора в параметре IP";
        break;
    case RegisterFailure::Cause::BadAddress:
        text = u"Неверно указан адрес фискального регистратора: " + at +
               u". Укажите IP адрес или IP адрес и порт, например 192.168.1.10 или 192.168.1.10:8080";
        break;
    case RegisterFailure::Cause::Network:
        text = address.empty() ? std::u16string(u"Ошибка сети при работе с фискальным регистратором")
                               : u"Ошибка связи с фискальным регистратором по адресу " + at;
        text += u": проверьте сеть и регистратор";
        break;
    }
    return text + u" (" + textconv::toUtf16(failure.text()) + u")";
}

void reportRegisterFailure(IAddInDefBase* connection, const RegisterFailure& failure, const std::string& address)
{
    switch (failure.kind()) {
    case RegisterFailure::Kind::Timeout: reportError(connection, kErrorTimeout); break;
    case RegisterFailure::Kind::LoginRefused: reportError(connection, kErrorAuthentication); break;
    case RegisterFailure::Kind::NoRegisterState:
        report(connection, kErrorNoRegisterState, noRegisterStateText(address, failure.text()));
        break;
    case RegisterFailure::Kind::Other:
        // A code of the table keeps the table's text; any other names the address and what
        // to check, with the network's own words in parentheses for support.
        if (driverErrorText(failure.code())) reportException(connection, failure.code(), failure.text());
        else report(connection, failure.code(), networkFailureText(failure, address));
        break;
    }
}

} // namespace oltra
