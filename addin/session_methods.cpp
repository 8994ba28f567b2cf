// Methods that describe, configure, connect and test the driver.
#include "addin/driver_errors.h"
#include "addin/driver_log.h"
#include "addin/method_tables.h"
#include "addin/oltranative.h"
#include "textconv/utf.h"
#include "addin/variant_util.h"

namespace oltra {

std::u16string buildSettingsXml()
{
    struct Piece {
        int tabs;
        const char16_t* text;
    };
    static const Piece pieces[] = {
        {0, u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>"},
        {0, u"<Settings>"},
        {0, u"<Page Caption=\"Параметры\">"},
        {1, u"<Group Caption=\"Параметры\">"},
        {2, u"<Parameter Name=\"IP\" Caption=\"IP адрес\" TypeValue=\"String\" DefaultValue=\"DEFAULT_IP\" />"},
        {2, u"<Parameter Name=\"Username\" Caption=\"Имя пользователя\" TypeValue=\"String\" DefaultValue=\"\" />"},
        {2, u"<Parameter Name=\"Password\" Caption=\"Пароль\" TypeValue=\"String\" DefaultValue=\"\" />"},
        {2, u"<Parameter Name=\"LogLevel\" Caption=\"Журналирование\" TypeValue=\"Number\" DefaultValue=\"2\">"},
        {3, u"<ChoiceList>"},
        {4, u"<Item Value=\"2\">Ошибки</Item>"},
        {4, u"<Item Value=\"1\">Информация</Item>"},
        {4, u"<Item Value=\"0\">Отладка</Item>"},
        {3, u"</ChoiceList>"},
        {2, u"</Parameter>"},
        {2,
         u"<Parameter Name=\"DefaultTaxGroup\" Caption=\"Группа для товаров без НДС\" TypeValue=\"Number\" DefaultValue=\"0\">"},
        {3, u"<ChoiceList>"},
        {4, u"<Item Value=\"1\">\u0410</Item>"},
        {4, u"<Item Value=\"2\">\u0411</Item>"},
        {4, u"<Item Value=\"3\">\u0412</Item>"},
        {4, u"<Item Value=\"4\">\u0413</Item>"},
        {4, u"<Item Value=\"0\">\u0415</Item>"},
        {3, u"</ChoiceList>"},
        {2, u"</Parameter>"},
        {1, u"</Group>"},
        {0, u"</Page>"},
        {0, u"</Settings>"},
    };
    std::u16string xml;
    for (const Piece& p : pieces) {
        xml.append(static_cast<std::size_t>(p.tabs), u'\t');
        xml += p.text;
    }
    return xml;
}

bool Oltranative::runSessionMethod(long method)
{
    switch (method) {
    case eMethGetDescription: return getDescription();
    case eMethGetLastError: return getLastError();
    case eMethGetParameters: return getParameters();
    case eMethSetParameter: return setParameter();
    case eMethOpen: return open();
    case eMethClose: return close();
    case eMethDeviceTest: return deviceTest();
    case eMethGetAdditionalActions:
        putString(&arg(0), std::u16string());
        setBool(returnValue, true);
        return true;
    case eMethDoAdditionalAction: return true;
    case eMethSearchIP: return searchIp();
    default: return false;
    }
}

bool Oltranative::getDescription()
{
    putString(&arg(0), name);
    putString(&arg(1), description);
    putString(&arg(2), equipmentType);
    setI4(&arg(3), interfaceRevision);
    setBool(&arg(4), integrationLibrary);
    setBool(&arg(5), mainDriverInstalled);
    putString(&arg(6), downloadUrl);
    return true;
}

bool Oltranative::getLastError()
{
    if (!registerClient) {
        putString(&arg(0), notConnectedText);
        return true;
    }
    putString(&arg(0), registerClient->lastErrorText());
    setI4(returnValue, registerClient->lastErrorCode());
    return true;
}

std::u16string Oltranative::parametersWithDiscoveredAddress() const
{
    const std::vector<std::string> found = discoverRegisters();
    const std::u16string address = found.empty() ? std::u16string() : textconv::toUtf16(found.front());
    static const std::u16string placeholder = u"DEFAULT_IP";
    std::u16string xml = settingsXml;
    for (std::size_t at = xml.find(placeholder); at != std::u16string::npos;
         at = xml.find(placeholder, at + address.size()))
        xml.replace(at, placeholder.size(), address);
    return xml;
}

// The document is the answer, with or without a register found: the result says True.
bool Oltranative::getParameters()
{
    putString(&arg(0), parametersWithDiscoveredAddress());
    setBool(returnValue, true);
    return true;
}

bool Oltranative::setParameter()
{
    std::u16string propertyName;
    if (readString(arg(0), propertyName)) {
        const long index = findProperty(propertyName.c_str());
        if (index >= 0) writeProperty(index, arg(1));
    }
    // Argument 0 is the caller's parameter name: it is not replaced by the device ID.
    return connectRegister(false);
}

bool Oltranative::open() { return connectRegister(true); }

bool Oltranative::close()
{
    if (registerClient) showUnsettled(*registerClient);
    registerClient.reset();
    setBool(returnValue, true);
    return true;
}

void Oltranative::showUnsettled(RegisterClient& client)
{
    const std::u16string found = client.settleBeforeClosing();
    if (found.empty()) return;
    if (IMsgBox* box = messageBox()) box->Alert(found.c_str());
}

// Argument 0 receives the state text, so connecting first does not also put the device
// ID there (the host could not free the block it would overwrite).
bool Oltranative::deviceTest()
{
    if (!registerClient && !connectRegister(false)) {
        setBool(returnValue, false);
        return true;
    }
    std::string document, failure;
    if (!registerClient->readStateDocument(document, failure)) {
        // Not the register's state (an error page, say): the test fails and says why.
        const std::string address = textconv::toUtf8(ipAddress);
        reportRegisterFailure(connection, RegisterFailure::noRegisterState(failure), address);
        putString(&arg(0), noRegisterStateText(address, failure));
        putString(&arg(1), std::u16string());
        setBool(returnValue, false);
        return true;
    }
    const std::u16string state = textconv::toUtf16(document);
    putString(&arg(0), state);
    putString(&arg(1), std::u16string());
    setBool(returnValue, !state.empty());
    return true;
}

bool Oltranative::searchIp()
{
    const std::vector<std::string> found = discoverRegisters();
    if (found.empty()) return true;
    std::string joined;
    for (const std::string& a : found) {
        if (!joined.empty()) joined += ';';
        joined += a;
    }
    putString(&arg(0), textconv::toUtf16(joined));
    setBool(returnValue, true); // found: True; nothing found stays False
    return true;
}

// Connects with the current properties; the new client replaces the old one only once it
// exists, so a failed reconnect keeps the earlier connection. Reports its own failures.
bool Oltranative::connectRegister(bool writeDeviceId)
{
    bool outcome = false;
    std::string address = textconv::toUtf8(ipAddress);
    if (address.empty()) {
        const std::vector<std::string> found = discoverRegisters();
        if (!found.empty()) address = found.front();
    }
    if (address.empty()) {
        reportError(connection, kErrorNoAddress);
    } else {
        const std::string login = userName.empty() ? defaultUserName : textconv::toUtf8(userName);
        const std::string secret = password.empty() ? defaultPassword : textconv::toUtf8(password);
        logInfo("Connection to fiscal printer IP: " + address + ", login: " + login + ", " +
                (secret == defaultPassword ? "with default password" : "with user defined password"));
        std::unique_ptr<RegisterClient> client;
        try {
            client = createRegisterClient(address, login, secret, defaultTaxGroup);
        } catch (const RegisterFailure& failure) {
            reportRegisterFailure(connection, failure, address);
        }
        if (client) {
            // Nothing unsettled goes with the old connection unseen.
            if (registerClient) showUnsettled(*registerClient);
            registerClient.swap(client);
            client.reset();
            ipAddress = textconv::toUtf16(address);
            if (writeDeviceId) putString(&arg(0), textconv::toUtf16(registerClient->serial()));
            outcome = true;
        }
    }
    setBool(returnValue, outcome);
    return outcome;
}

} // namespace oltra
