// The component the 1C host creates for each fiscal register connection.
//
// Files: oltranative.cpp holds construction, the host calls, the properties and the
// method dispatcher (CallAsFunc); session_methods.cpp the methods that describe,
// configure, connect and test the driver; fiscal_methods.cpp the fiscal operations.
#pragma once

#include "addin/addin_native.h"
#include "addin/register_client.h"

#include <cstdint>
#include <memory>
#include <string>

namespace oltra {

class Oltranative final : public CAddInNative {
public:
    Oltranative();
    ~Oltranative() override;

    // IInitDoneBase
    bool Init(void* connection) override;
    bool setMemManager(void* memoryManager) override;
    long GetInfo() override;
    void Done() override;

    // ILanguageExtenderBase
    bool RegisterExtensionAs(WCHAR_T** extensionName) override;
    long GetNProps() override;
    long FindProp(const WCHAR_T* propName) override;
    const WCHAR_T* GetPropName(long propNum, long propAlias) override;
    bool GetPropVal(const long propNum, tVariant* propVal) override;
    bool SetPropVal(const long propNum, tVariant* propVal) override;
    bool IsPropReadable(const long propNum) override;
    bool IsPropWritable(const long propNum) override;
    long GetNMethods() override;
    long FindMethod(const WCHAR_T* methodName) override;
    const WCHAR_T* GetMethodName(const long methodNum, const long methodAlias) override;
    long GetNParams(const long methodNum) override;
    bool GetParamDefValue(const long methodNum, const long paramNum, tVariant* paramDefValue) override;
    bool HasRetVal(const long methodNum) override;
    bool CallAsProc(const long methodNum, tVariant* params, const long sizeArray) override;
    bool CallAsFunc(const long methodNum, tVariant* retValue, tVariant* params, const long sizeArray) override;

    // LocaleBase
    void SetLocale(const WCHAR_T* locale) override;

private:
    // Dispatcher: runs one method after the frame's checks; returns what CallAsFunc returns.
    bool runMethod(long method);
    bool readProperty(long index, tVariant* value);
    bool writeProperty(long index, const tVariant& value);

    // session_methods.cpp
    bool runSessionMethod(long method);
    bool getDescription();
    bool getLastError();
    bool getParameters();
    bool setParameter();
    bool open();
    bool close();
    bool deviceTest();
    bool searchIp();
    bool connectRegister(bool writeDeviceId);
    std::u16string parametersWithDiscoveredAddress() const;
    // Settles what the client leaves unsettled and shows the cashier what was found.
    void showUnsettled(RegisterClient& client);

    // fiscal_methods.cpp
    bool runFiscalMethod(long method);
    // Shows the register's error text unless it is empty or equals alreadyShown.
    void showRegisterError(const std::u16string& alreadyShown);
    bool numberArg(long k, const char16_t* name, bool quantity, double& out);
    bool paymentArg(long k, const char16_t* name, double& out);

    // Argument k of the call in progress.
    tVariant& arg(long k) { return arguments[k]; }
    std::u16string stringArg(long k) const;

    tVariant* returnValue = nullptr; // result slot of the call in progress
    tVariant* arguments = nullptr;   // argument array of the call in progress

    const std::u16string versionNumber;
    const std::u16string version;
    const std::u16string description;
    const std::string defaultUserName;
    const std::string defaultPassword;
    const std::u16string notConnectedText;
    std::unique_ptr<RegisterClient> registerClient;
    int32_t logLevelValue = 1;
    int32_t defaultTaxGroup = 0;
    const char16_t* errorSource;
    const std::u16string name;
    const std::u16string equipmentType;
    const int32_t interfaceRevision = 2005;
    const bool integrationLibrary = false;
    const bool mainDriverInstalled = true;
    const std::u16string downloadUrl;
    std::u16string userName;
    std::u16string password;
    std::u16string ipAddress;
    const std::u16string settingsXml;
};

// True for the methods that need a register client (numbers 10-21 and 23-32).
bool isFiscalMethod(long method);

// The settings document returned by GetParameters, with "DEFAULT_IP" as the IP default.
std::u16string buildSettingsXml();

} // namespace oltra
