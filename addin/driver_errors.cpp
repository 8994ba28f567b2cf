#include "driver_errors.h"
#include "driver_log.h"
#include "utf.h"

#include <Poco/Exception.h>

namespace oltra {

const char16_t kErrorSource[] = u"Драйвер ФР Oltra";

namespace {

struct ErrorEntry {
    int32_t code;
    const char16_t* text;
};

const ErrorEntry kErrorTable[] = {
    {kErrorNotConnected, u"Драйвер не подключен к фискальному регистратору"},
    {kErrorAuthentication,
     u"Не верно указано имя пользователя или пароль для подключения к фискальному регистратору"},
    {kErrorTimeout, u"Истекло время ожидания при подключении к фискальному регистратору"},
    {kErrorNoAddress, u"Не указан IP адрес, а авто поиск не нашел фискальный регистратор"},
};

void report(IAddInDefBase* connection, int32_t code, const std::u16string& text)
{
    if (connection) {
        // The host gets copies of its own; they live until AddError returns.
        const std::u16string source(kErrorSource);
        const std::u16string description(text);
        connection->AddError(static_cast<unsigned short>(code), source.c_str(), description.c_str(), code);
    }
    logError(toUtf8(text) + " code:" + std::to_string(code));
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

void reportException(IAddInDefBase* connection, int32_t code, const std::string& displayText)
{
    const char16_t* text = driverErrorText(code);
    report(connection, code, text ? std::u16string(text) : toUtf16(displayText));
}

void reportException(IAddInDefBase* connection, const Poco::Exception& e)
{
    reportException(connection, e.code(), e.displayText());
}

void reportNetworkFailure(IAddInDefBase* connection, const Poco::Exception& e)
{
    if (dynamic_cast<const Poco::TimeoutException*>(&e))
        reportError(connection, kErrorTimeout);
    else if (e.code() == kErrorAuthentication)
        reportError(connection, kErrorAuthentication);
    else
        reportException(connection, e);
}

} // namespace oltra
