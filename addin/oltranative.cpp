#include "addin/oltranative.h"
#include "addin/driver_errors.h"
#include "addin/driver_log.h"
#include "addin_version.h"
#include "addin/method_tables.h"
#include "textconv/utf.h"
#include "addin/variant_util.h"

#include <clocale>
#include <cstring>
#include <mutex>

namespace oltra {

namespace {
const char16_t kComponentName[] = u"Oltranative";
}

Oltranative::Oltranative()
    : versionNumber(OLTRA_VERSION_TEXT), version(versionNumber + u" 64bit"),
      description(
          u"1C 64bit Драйвер для фискальных регистраторов серии Oltra.\r\nДрайвер разработан компанией ВЕЛТОР."),
      defaultUserName("service"), defaultPassword("384190"), notConnectedText(u"Необходимо вызвать метод Open"),
      errorSource(kErrorSource),
      // The second letter of "1С" is Cyrillic here.
      name(u"1\u0421:Native драйвер фискальных регистраторов серии Oltra"), equipmentType(u"ФискальныйРегистратор"),
      downloadUrl(u"https://veltor.ua/drivers/oltra/" + versionNumber + u"/Zovovariri.exe"),
      settingsXml(buildSettingsXml())
{
    logInfo(u"Oltranative_x64.dll version: " + version);
}

// The register client goes first, then the strings.
Oltranative::~Oltranative()
{
    try {
        registerClient.reset();
    } catch (...) {
        logEscaped("~Oltranative", "register client");
    }
}

// ---------------------------------------------------------------------------------------
// IInitDoneBase

bool Oltranative::Init(void* conn)
{
    connection = static_cast<IAddInDefBase*>(conn);
    return connection != nullptr;
}

bool Oltranative::setMemManager(void* manager)
{
    memoryManager = static_cast<IMemoryManager*>(manager);
    return memoryManager != nullptr;
}

long Oltranative::GetInfo() { return 2500; }

// The register client stays: only Close, Open and destruction release it.
void Oltranative::Done() {}

// ---------------------------------------------------------------------------------------
// ILanguageExtenderBase: names

bool Oltranative::RegisterExtensionAs(WCHAR_T** extensionName)
{
    return guarded("RegisterExtensionAs", false, [&] {
        if (!memoryManager || !extensionName) return false;
        if (WCHAR_T* copy = hostString(kComponentName)) *extensionName = copy;
        return true;
    });
}

long Oltranative::GetNProps() { return ePropCount; }

long Oltranative::FindProp(const WCHAR_T* propName) { return findProperty(propName); }

const WCHAR_T* Oltranative::GetPropName(long propNum, long propAlias)
{
    return guarded("GetPropName", static_cast<const WCHAR_T*>(nullptr), [&]() -> const WCHAR_T* {
        const char16_t* n = propertyName(propNum, propAlias);
        return n ? hostString(n) : nullptr;
    });
}

bool Oltranative::IsPropReadable(const long propNum)
{
    return propNum >= 0 && propNum < ePropCount && kProperties[propNum].readable;
}

bool Oltranative::IsPropWritable(const long propNum)
{
    return propNum >= 0 && propNum < ePropCount && kProperties[propNum].writable;
}

long Oltranative::GetNMethods() { return eMethCount; }

long Oltranative::FindMethod(const WCHAR_T* methodName) { return findMethod(methodName); }

const WCHAR_T* Oltranative::GetMethodName(const long methodNum, const long methodAlias)
{
    return guarded("GetMethodName", static_cast<const WCHAR_T*>(nullptr), [&]() -> const WCHAR_T* {
        const char16_t* n = oltra::methodName(methodNum, methodAlias);
        return n ? hostString(n) : nullptr;
    });
}

long Oltranative::GetNParams(const long methodNum)
{
    return methodNum >= 0 && methodNum < eMethCount ? kMethods[methodNum].paramCount : 0;
}

bool Oltranative::GetParamDefValue(const long, const long, tVariant* paramDefValue)
{
    if (paramDefValue) setEmpty(paramDefValue);
    return false;
}

bool Oltranative::HasRetVal(const long) { return true; }

// ---------------------------------------------------------------------------------------
// Properties

bool Oltranative::GetPropVal(const long propNum, tVariant* propVal)
{
    return guarded("GetPropVal", false, [&] {
        if (!propVal) return false;
        try {
            return readProperty(propNum, propVal);
        } catch (const RegisterFailure& failure) {
            reportRegisterFailure(connection, failure, textconv::toUtf8(ipAddress));
            return false;
        }
    });
}

bool Oltranative::readProperty(long index, tVariant* v)
{
    switch (index) {
    case ePropVersion: return putString(v, version);
    case ePropName: return putString(v, name);
    case ePropDescription: return putString(v, description);
    case ePropEquipmentType: logDebug("ePropEquipmentType"); return putString(v, equipmentType);
    case ePropInterfaceRevision: setI4(v, interfaceRevision); return true;
    case ePropIntegrationLibrary: setBool(v, integrationLibrary); return true;
    case ePropMainDriverInstalled: setBool(v, mainDriverInstalled); return true;
    case ePropDownloadURL: return putString(v, downloadUrl);
    case ePropErrorDescription:
        return putString(v, registerClient ? registerClient->lastErrorText() : notConnectedText);
    case ePropTableParameters: return putString(v, parametersWithDiscoveredAddress());
    case ePropDeviceID:
        return putString(v, registerClient ? textconv::toUtf16(registerClient->serial()) : notConnectedText);
    case ePropDemoModeIsActivated: setBool(v, false); return true;
    case ePropTableActions:
    case ePropActionName: return putString(v, std::u16string());
    case ePropIP: return putString(v, registerClient || !ipAddress.empty() ? ipAddress : notConnectedText);
    case ePropUsername: return putString(v, userName);
    case ePropPassword: return false; // write-only: the password is never handed out
    case ePropLogLevel:
        logLevelValue = logLevel();
        setI4(v, logLevelValue);
        return true;
    case ePropDefaultTaxGroup: setI4(v, defaultTaxGroup); return true;
    default: return false;
    }
}

bool Oltranative::SetPropVal(const long propNum, tVariant* propVal)
{
    return guarded("SetPropVal", false, [&] { return propVal && writeProperty(propNum, *propVal); });
}

// A value of the wrong type is refused and changes nothing: strings only from
// VTYPE_PWSTR, numbers only from a whole numeric value.
bool Oltranative::writeProperty(long index, const tVariant& value)
{
    if (value.vt == VTYPE_EMPTY) return false;
    std::u16string text;
    int32_t number = 0;
    switch (index) {
    case ePropIP:
        if (!readString(value, text)) return false;
        ipAddress = text;
        logInfo(u"Set IP: " + ipAddress);
        return true;
    case ePropUsername:
        if (!readString(value, text)) return false;
        userName = text;
        logInfo(u"Username: " + userName);
        return true;
    case ePropPassword:
        if (!readString(value, text)) return false;
        password = text;
        logInfo("Set password");
        logDebug("Password:********"); // the same mask whatever the length
        return true;
    case ePropLogLevel:
        if (!readInt32(value, number)) return false;
        logLevelValue = number;
        setLogLevel(number);
        return true;
    case ePropDefaultTaxGroup:
        if (!readInt32(value, number)) return false;
        defaultTaxGroup = number;
        logInfo("Set default tax group: " + std::to_string(number));
        return true;
    default: return false;
    }
}

// ---------------------------------------------------------------------------------------
// Methods

bool Oltranative::CallAsProc(const long, tVariant* params, const long sizeArray)
{
    if (sizeArray == 0 || !params) return false;
    // Runs nothing: every driver method has a result and goes through CallAsFunc.
    return true;
}

bool Oltranative::CallAsFunc(const long methodNum, tVariant* retValue, tVariant* params, const long sizeArray)
{
    const bool ok = guarded("CallAsFunc", false, [&] {
        returnValue = retValue;
        arguments = params;
        if (!retValue) return false;
        setBool(retValue, false);
        if (methodNum == eMethGetVersion) {
            putString(retValue, version);
            return true;
        }
        if (methodNum < 0 || methodNum >= eMethCount) return false;
        if (sizeArray <= 0 || !params) return false;
        // Never read past the host's array.
        if (sizeArray < kMethods[methodNum].paramCount) return false;
        try {
            return runMethod(methodNum);
        } catch (const RegisterFailure& failure) {
            reportRegisterFailure(connection, failure, textconv::toUtf8(ipAddress));
            setBool(retValue, false);
            return true;
        }
    });
    // The host's arrays are only valid during the call.
    returnValue = nullptr;
    arguments = nullptr;
    return ok;
}

bool isFiscalMethod(long method)
{
    return (method >= eMethOpenShift && method <= eMethGetLineLength) ||
           (method >= eMethPrintXReportByGoods && method <= eMethGetCurrentReceiptNumber);
}

bool Oltranative::runMethod(long method)
{
    return isFiscalMethod(method) ? runFiscalMethod(method) : runSessionMethod(method);
}

std::u16string Oltranative::stringArg(long k) const
{
    std::u16string text;
    readString(arguments[k], text); // anything but a string counts as empty
    return text;
}

// ---------------------------------------------------------------------------------------
// LocaleBase

void Oltranative::SetLocale(const WCHAR_T* locale)
{
    // The runtime's locale is the process's: components of several sessions set it one at
    // a time.
    static std::mutex localeMutex;
    guarded("SetLocale", 0, [&] {
        std::lock_guard<std::mutex> lock(localeMutex);
#if defined(_WIN32)
        if (locale) _wsetlocale(LC_ALL, reinterpret_cast<const wchar_t*>(locale));
#else
        if (locale) std::setlocale(LC_ALL, textconv::toUtf8(std::u16string(locale)).c_str());
#endif
        return 0;
    });
}

} // namespace oltra
