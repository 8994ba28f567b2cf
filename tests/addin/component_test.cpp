// The add-in library driven the way the platform drives it: loaded with dlopen, every
// call through the exported functions and the component's vtables, every string through
// the host's memory manager.
#include "tests/support/addin_fixture.h"

#include <cstring>
#include <regex>

using namespace addinhost;
using namespace testsupport;

namespace {

const std::u16string kNotConnected = u"Необходимо вызвать метод Open";
const std::u16string kSource = u"Драйвер ФР Oltra";
const std::u16string kNotConnectedError = u"Драйвер не подключен к фискальному регистратору";
const std::u16string kNoAddressError = u"Не указан IP адрес, а авто поиск не нашел фискальный регистратор";

class Addin : public AddinFixture {
protected:
    Addin() : AddinFixture(ADDIN_LIBRARY) {}
};

// Raw vtable access, independent of our own interface declarations.
template <typename Fn>
Fn slot(const void* subobject, int index)
{
    void* const* vtable = *static_cast<void* const* const*>(subobject);
    return reinterpret_cast<Fn>(vtable[index]);
}

} // namespace

// ---------------------------------------------------------------------------------------
// Exports

TEST_F(Addin, ExportsFollowThePlatformRules)
{
    const WCHAR_T* names = host->classNamesPointer();
    EXPECT_EQ(host->classNamesPointer(), names) << "the same buffer every time";
    EXPECT_EQ(std::u16string(names), u"Oltranative");

    for (AppCapabilities c : {eAppCapabilitiesInvalid, eAppCapabilities1, static_cast<AppCapabilities>(99)})
        EXPECT_EQ(host->setPlatformCapabilities()(c), eAppCapabilities1);

    IComponentBase* occupied = comp->raw();
    EXPECT_EQ(host->getClassObject()(u"Oltranative", &occupied), 0);
    EXPECT_EQ(occupied, comp->raw()) << "an occupied out pointer is left alone";

    IComponentBase* created = nullptr;
    const long result = host->getClassObject()(u"anything", &created);
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(result, reinterpret_cast<long>(created));
    EXPECT_EQ(host->destroyObject()(&created), 0);
    EXPECT_EQ(created, nullptr);
    EXPECT_EQ(host->destroyObject()(&created), -1);
    EXPECT_EQ(host->destroyObject()(nullptr), -1);
}

TEST_F(Addin, VtableSlotsMatchThePlatformLayout)
{
    // Itanium ABI: each destructor takes two slots; IInitDoneBase at +0,
    // ILanguageExtenderBase at +8, LocaleBase at +16.
    char* object = reinterpret_cast<char*>(comp->raw());
    const void* init = object;
    const void* ext = object + 8;
    const void* locale = object + 16;
    ASSERT_EQ(static_cast<void*>(static_cast<ILanguageExtenderBase*>(comp->raw())), ext);
    ASSERT_EQ(static_cast<void*>(static_cast<LocaleBase*>(comp->raw())), locale);

    EXPECT_TRUE((slot<bool (*)(const void*, void*)>(init, 2)(init, &host->connection())));     // Init
    EXPECT_TRUE((slot<bool (*)(const void*, void*)>(init, 3)(init, &host->memory())));         // setMemManager
    EXPECT_EQ((slot<long (*)(const void*)>(init, 4)(init)), 2500);                             // GetInfo
    EXPECT_EQ((slot<long (*)(const void*)>(ext, 3)(ext)), 19);                                 // GetNProps
    EXPECT_EQ((slot<long (*)(const void*, const char16_t*)>(ext, 4)(ext, u"IP")), 14);         // FindProp
    EXPECT_FALSE((slot<bool (*)(const void*, long)>(ext, 8)(ext, 16)));                        // IsPropReadable
    EXPECT_TRUE((slot<bool (*)(const void*, long)>(ext, 9)(ext, 16)));                         // IsPropWritable
    EXPECT_EQ((slot<long (*)(const void*)>(ext, 10)(ext)), 33);                                // GetNMethods
    EXPECT_EQ((slot<long (*)(const void*, const char16_t*)>(ext, 11)(ext, u"Подключить")), 5); // FindMethod
    EXPECT_EQ((slot<long (*)(const void*, long)>(ext, 13)(ext, 12)), 7);                       // GetNParams
    EXPECT_TRUE((slot<bool (*)(const void*, long)>(ext, 15)(ext, 3)));                         // HasRetVal

    tVariant ret;
    std::memset(&ret, 0, sizeof ret);
    ASSERT_TRUE((slot<bool (*)(const void*, long, tVariant*, tVariant*, long)>(ext, 17)(ext, 0, &ret, nullptr, 0)));
    ASSERT_EQ(ret.vt, VTYPE_PWSTR); // CallAsFunc
    EXPECT_EQ(std::u16string(ret.pwstrVal, ret.wstrLen), u"1.56 64bit");
    EXPECT_EQ(ret.pwstrVal[ret.wstrLen], u'\0') << "terminated";
    host->memory().release(ret.pwstrVal);

    slot<void (*)(const void*, const char16_t*)>(locale, 2)(locale, u"C"); // SetLocale
    EXPECT_EQ(sizeof(tVariant), 64u);
}

// ---------------------------------------------------------------------------------------
// Host calls outside the methods

TEST_F(Addin, HostCallsWithoutDriverMethods)
{
    EXPECT_EQ(comp->raw()->GetInfo(), 2500);
    EXPECT_EQ(host->extensionName(), u"Oltranative");

    tVariant v;
    v.vt = VTYPE_I4;
    EXPECT_FALSE(comp->raw()->GetParamDefValue(1, 0, &v));
    EXPECT_EQ(v.vt, VTYPE_EMPTY);

    tVariant args[2] = {};
    EXPECT_FALSE(comp->raw()->CallAsProc(5, args, 0));
    EXPECT_FALSE(comp->raw()->CallAsProc(5, nullptr, 1));
    EXPECT_TRUE(comp->raw()->CallAsProc(19, args, 1));
    EXPECT_TRUE(host->connection().errors.empty()) << "CallAsProc runs nothing";

    comp->raw()->Done();
    EXPECT_EQ(comp->call("GetVersion").result, Value::str(u"1.56 64bit"));

    const std::string log = logText();
    EXPECT_EQ(countOf(log, "] INFO: Oltranative_x64.dll version: 1.56 64bit\n"), 1) << log;
}

TEST_F(Addin, NoMemoryManagerMeansNoStrings)
{
    Component bare = host->create({/*setMemManager*/ false, /*init*/ true, /*registerExtension*/ false});
    WCHAR_T* name = nullptr;
    EXPECT_FALSE(bare.raw()->RegisterExtensionAs(&name));
    EXPECT_EQ(name, nullptr);
    EXPECT_FALSE(bare.get("Version").ok);
    std::u16string text;
    EXPECT_FALSE(bare.methodName(0, 0, text));
    const CallResult r = bare.call("GetVersion");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.result, Value::boolean(false));

    // A host that refuses the memory: registration still succeeds, nothing is handed out.
    host->memory().refuse(true);
    name = nullptr;
    EXPECT_TRUE(comp->raw()->RegisterExtensionAs(&name));
    EXPECT_EQ(name, nullptr);
    EXPECT_FALSE(comp->propName(0, 0, text));
    const CallResult d = comp->call("GetDescription");
    EXPECT_TRUE(d.ok);
    EXPECT_EQ(d.args[0], Value::empty()) << "a string argument is left as it was";
    EXPECT_EQ(d.args[3], Value::i4(2005));
    host->memory().refuse(false);
}

// ---------------------------------------------------------------------------------------
// Method and property tables

TEST_F(Addin, TablesInBothLanguages)
{
    const std::vector<MemberInfo> methods = comp->methods();
    const std::vector<MemberInfo> props = comp->properties();
    ASSERT_EQ(methods.size(), 33u);
    ASSERT_EQ(props.size(), 19u);
    for (const MemberInfo& m : methods) {
        EXPECT_EQ(comp->findMethod(m.english), m.index) << toUtf8(m.english);
        EXPECT_EQ(comp->findMethod(m.russian), m.index) << toUtf8(m.russian);
        EXPECT_TRUE(m.hasRetVal);
    }
    for (const MemberInfo& p : props) {
        EXPECT_EQ(comp->findProp(p.english), p.index) << toUtf8(p.english);
        EXPECT_EQ(comp->findProp(p.russian), p.index) << toUtf8(p.russian);
        EXPECT_EQ(p.readable, p.index != 16) << p.index;
        EXPECT_EQ(p.writable, p.index >= 14) << p.index;
    }
    EXPECT_EQ(methods[32].russian, u"ПолучитьНомерТекущегоЧека");
    EXPECT_EQ(methods[22].russian, u"ПолучитIP");
    EXPECT_EQ(props[7].russian, u"URL\u0043качивания");
    EXPECT_EQ(props[14].english, props[14].russian);

    EXPECT_EQ(comp->findMethod(u"Open"), 5);
    EXPECT_EQ(comp->findMethod(u"Подключить"), 5);
    EXPECT_EQ(comp->findMethod(u"open"), -1) << "case-sensitive";
    EXPECT_EQ(comp->findMethod(u"подключить"), -1);
    EXPECT_EQ(comp->findMethod(u"ПолучитьIP"), -1);
    EXPECT_EQ(comp->findMethod(u"Open "), -1);
    EXPECT_EQ(comp->findMethod(u""), -1);
    EXPECT_EQ(comp->findProp(u"URL\u0421качивания"), -1) << "Cyrillic С is not the Latin C";
    EXPECT_EQ(comp->raw()->FindMethod(nullptr), -1);
    EXPECT_EQ(comp->raw()->FindProp(nullptr), -1);

    std::u16string text;
    EXPECT_FALSE(comp->methodName(33, 0, text));
    EXPECT_FALSE(comp->methodName(-1, 0, text));
    EXPECT_FALSE(comp->methodName(0, 2, text));
    EXPECT_FALSE(comp->propName(19, 1, text));
    EXPECT_FALSE(comp->raw()->IsPropReadable(19));
    EXPECT_FALSE(comp->raw()->IsPropWritable(-1));
    EXPECT_EQ(comp->raw()->GetNParams(0), 0);
    EXPECT_EQ(comp->raw()->GetNParams(12), 7);
    EXPECT_EQ(comp->raw()->GetNParams(33), 0);
    EXPECT_EQ(comp->raw()->GetNParams(-5), 0);
    EXPECT_GT(host->memory().allocations(), 100u) << "every name went through the host's memory";
}

// ---------------------------------------------------------------------------------------
// Properties

TEST_F(Addin, ReadOnlyProperties)
{
    EXPECT_EQ(comp->get("Version").value, Value::str(u"1.56 64bit"));
    const std::u16string name = comp->get("Наименование").value.text;
    EXPECT_EQ(name, u"1\u0421:Native драйвер фискальных регистраторов серии Oltra");
    EXPECT_EQ(comp->get("Description").value,
              Value::str(u"1C 64bit Драйвер для фискальных регистраторов серии Oltra.\r\n"
                         u"Драйвер разработан компанией ВЕЛТОР."));
    EXPECT_EQ(comp->get("EquipmentType").value, Value::str(u"ФискальныйРегистратор"));
    EXPECT_EQ(comp->get("InterfaceRevision").value, Value::i4(2005));
    EXPECT_EQ(comp->get("IntegrationLibrary").value, Value::boolean(false));
    EXPECT_EQ(comp->get("MainDriverInstalled").value, Value::boolean(true));
    EXPECT_EQ(comp->get("DownloadURL").value, Value::str(u"https://veltor.ua/drivers/oltra/1.56/Zovovariri.exe"));
    EXPECT_EQ(comp->get("ErrorDescription").value, Value::str(kNotConnected));
    EXPECT_EQ(comp->get("DeviceID").value, Value::str(kNotConnected));
    EXPECT_EQ(comp->get("DemoModeIsActivated").value, Value::boolean(false));
    EXPECT_EQ(comp->get("TableActions").value, Value::str(u""));
    EXPECT_EQ(comp->get("ActionName").value, Value::str(u""));
    EXPECT_FALSE(comp->get(19).ok);
    EXPECT_FALSE(comp->get(-1).ok);

    // Without a register answering, the IP default of the settings is empty.
    const std::u16string xml = comp->get("TableParameters").value.text;
    EXPECT_EQ(xml.find(u"DEFAULT_IP"), std::u16string::npos);
    EXPECT_NE(xml.find(u"<Parameter Name=\"IP\" Caption=\"IP адрес\" TypeValue=\"String\" DefaultValue=\"\" />"),
              std::u16string::npos);
    EXPECT_EQ(xml.rfind(u"<?xml version=\"1.0\" encoding=\"UTF-8\"?><Settings><Page Caption=\"Параметры\">\t<Group", 0),
              0u);
    EXPECT_NE(xml.find(u"\t\t\t\t<Item Value=\"0\">\u0415</Item>\t\t\t</ChoiceList>"), std::u16string::npos);
    EXPECT_EQ(xml.find(u'\n'), std::u16string::npos);

    for (long i = 0; i < 14; ++i) EXPECT_FALSE(comp->set(i, Value::str(u"x"))) << i;
    EXPECT_EQ(comp->get("Version").value, Value::str(u"1.56 64bit"));
    EXPECT_EQ(countOf(logText(), "] DEBUG: ePropEquipmentType\n"), 1);
}

TEST_F(Addin, WritablePropertiesRoundTrip)
{
    EXPECT_EQ(comp->get("LogLevel").value, Value::i4(0)) << "the process-wide level, DEBUG at load";
    EXPECT_EQ(comp->get("IP").value, Value::str(kNotConnected));
    EXPECT_TRUE(comp->set("IP", Value::str(u"192.168.0.10")));
    EXPECT_EQ(comp->get("IP").value, Value::str(u"192.168.0.10"));
    EXPECT_TRUE(comp->set("ИмяПользователя", Value::str(u"кассир")));
    EXPECT_EQ(comp->get("Username").value, Value::str(u"кассир"));
    EXPECT_TRUE(comp->set("DefaultTaxGroup", Value::i4(3)));
    EXPECT_EQ(comp->get("НалоговаяГруппаПоУмолчанию").value, Value::i4(3));
    EXPECT_TRUE(comp->set("LogLevel", Value::i4(2)));
    EXPECT_EQ(comp->get("LogLevel").value, Value::i4(2));
    EXPECT_TRUE(comp->set("LogLevel", Value::i4(1)));

    const std::string log = logText();
    for (const char* line :
         {"] INFO: Set IP: 192.168.0.10\n", "] INFO: Username: кассир\n", "] INFO: Set default tax group: 3\n",
          "] INFO: Set log level: ERROR\n", "] INFO: Set log level: INFO\n"})
        EXPECT_EQ(countOf(log, line), 1) << line << log;
}

TEST_F(Addin, PasswordIsNeverHandedOutNorLogged)
{
    EXPECT_TRUE(comp->set("Password", Value::str(u"s3cr3t")));
    const std::size_t before = host->memory().allocations();
    const PropertyResult r = comp->get("Пароль");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.value, Value::empty());
    EXPECT_EQ(host->memory().allocations(), before);

    const std::string log = logText();
    EXPECT_EQ(log.find("s3cr3t"), std::string::npos) << log;
    EXPECT_EQ(countOf(log, "] INFO: Set password\n"), 1);
    // A fixed mask: the length of the password is no hint either.
    EXPECT_TRUE(comp->set("Password", Value::str(u"довгий-пароль-1")));
    EXPECT_EQ(countOf(logText(), "] DEBUG: Password:********\n"), 2);
}

TEST_F(Addin, ValuesOfTheWrongTypeAreRefused)
{
    ASSERT_TRUE(comp->set("IP", Value::str(u"10.0.0.1")));
    ASSERT_TRUE(comp->set("DefaultTaxGroup", Value::i4(2)));
    ASSERT_TRUE(comp->set("LogLevel", Value::i4(1)));
    removeFile(logPath());

    for (long p = 14; p <= 18; ++p) EXPECT_FALSE(comp->set(p, Value::empty())) << p;
    EXPECT_FALSE(comp->set("IP", Value::i4(5)));
    EXPECT_FALSE(comp->set("Username", Value::boolean(true)));
    EXPECT_FALSE(comp->set("Password", Value::r8(1.0)));
    EXPECT_FALSE(comp->set("LogLevel", Value::str(u"0")));
    EXPECT_FALSE(comp->set("DefaultTaxGroup", Value::r8(2.5)));
    EXPECT_FALSE(comp->set("DefaultTaxGroup", Value::boolean(true)));
    EXPECT_FALSE(comp->set("DefaultTaxGroup", Value::r8(1e12)));
    tVariant nullText{};
    nullText.vt = VTYPE_PWSTR;
    nullText.wstrLen = 3;
    EXPECT_FALSE(comp->raw()->SetPropVal(14, &nullText)) << "null string with a length";

    EXPECT_EQ(comp->get("IP").value, Value::str(u"10.0.0.1"));
    EXPECT_EQ(comp->get("DefaultTaxGroup").value, Value::i4(2));
    EXPECT_EQ(comp->get("LogLevel").value, Value::i4(1));
    EXPECT_EQ(logText(), "") << "a refused value writes nothing";

    // A whole number in another numeric type is a number.
    EXPECT_TRUE(comp->set("DefaultTaxGroup", Value::r8(4.0)));
    EXPECT_EQ(comp->get("DefaultTaxGroup").value, Value::i4(4));
    tVariant small{};
    small.vt = VTYPE_UI1;
    small.ui8Val = 1;
    EXPECT_TRUE(comp->raw()->SetPropVal(18, &small));
    EXPECT_EQ(comp->get("DefaultTaxGroup").value, Value::i4(1));
}

// ---------------------------------------------------------------------------------------
// Methods

TEST_F(Addin, CallFrameChecksTheArguments)
{
    EXPECT_EQ(comp->call(0, {}, 0).result, Value::str(u"1.56 64bit")) << "GetVersion needs no arguments";

    tVariant ret{};
    EXPECT_FALSE(comp->raw()->CallAsFunc(1, &ret, nullptr, 7));
    EXPECT_EQ(ret.vt, VTYPE_BOOL);
    EXPECT_FALSE(ret.bVal) << "the result is preset to False";
    tVariant one[1] = {};
    EXPECT_FALSE(comp->raw()->CallAsFunc(1, &ret, one, 0));
    EXPECT_FALSE(comp->raw()->CallAsFunc(1, &ret, one, 1)) << "fewer arguments than the method has";
    EXPECT_FALSE(comp->raw()->CallAsFunc(33, &ret, one, 1));
    EXPECT_FALSE(comp->raw()->CallAsFunc(-1, &ret, one, 1));
    EXPECT_FALSE(comp->raw()->CallAsFunc(1, nullptr, one, 1));
    EXPECT_TRUE(host->connection().errors.empty());
}

TEST_F(Addin, DescriptiveMethods)
{
    CallResult r = comp->call("ПолучитьОписание");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.result, Value::boolean(false));
    ASSERT_EQ(r.args.size(), 7u);
    EXPECT_EQ(r.args[0], comp->get("Name").value);
    EXPECT_EQ(r.args[1], comp->get("Description").value);
    EXPECT_EQ(r.args[2], Value::str(u"ФискальныйРегистратор"));
    EXPECT_EQ(r.args[3], Value::i4(2005));
    EXPECT_EQ(r.args[4], Value::boolean(false));
    EXPECT_EQ(r.args[5], Value::boolean(true));
    EXPECT_EQ(r.args[6], Value::str(u"https://veltor.ua/drivers/oltra/1.56/Zovovariri.exe"));

    r = comp->call("GetLastError", {Value::str(u"old text")});
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.result, Value::boolean(false));
    EXPECT_EQ(r.args[0], Value::str(kNotConnected));

    r = comp->call("GetAdditionalActions");
    EXPECT_EQ(r.result, Value::boolean(true));
    EXPECT_EQ(r.args[0], Value::str(u""));
    r = comp->call("DoAdditionalAction", {Value::str(u"x")});
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.result, Value::boolean(false));

    for (int i = 0; i < 2; ++i) {
        r = comp->call("Отключить");
        EXPECT_TRUE(r.ok);
        EXPECT_EQ(r.result, Value::boolean(true));
    }

    r = comp->call("GetParameters");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.result, Value::boolean(true)) << "the document is given even when no register answers";
    EXPECT_EQ(r.args[0], comp->get("TableParameters").value);

    r = comp->call("SearchIP", {Value::str(u"keep")});
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.result, Value::boolean(false)) << "nothing found";
    EXPECT_EQ(r.args[0], Value::str(u"keep")) << "nothing found leaves the argument";
    EXPECT_TRUE(host->connection().errors.empty());
}

TEST_F(Addin, FiscalMethodsBeforeOpenReportNotConnected)
{
    const CallResult r = comp->call("PrintXReport");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.result, Value::boolean(false));
    ASSERT_EQ(r.errors.size(), 1u);
    EXPECT_EQ(r.errors[0].wcode, 1001);
    EXPECT_EQ(r.errors[0].scode, 1001);
    EXPECT_EQ(r.errors[0].source, kSource);
    EXPECT_EQ(r.errors[0].description, kNotConnectedError);
    EXPECT_TRUE(r.alerts.empty());
    const std::string log = logText();
    const std::regex line(
        R"(\[\d\d-\d\d-\d{4} \d\d:\d\d:\d\d\] ERROR: Драйвер не подключен к фискальному регистратору code:1001)");
    EXPECT_EQ(countOf(log, "ERROR: "), 1) << log;
    EXPECT_TRUE(std::regex_search(log, line)) << log;

    int fiscal = 0;
    for (long m = 10; m < 33; ++m) {
        if (m == 22) continue;
        const CallResult f = comp->call(m, {});
        EXPECT_FALSE(f.ok) << m;
        ASSERT_EQ(f.errors.size(), 1u) << m;
        EXPECT_EQ(f.errors[0].scode, 1001) << m;
        ++fiscal;
    }
    EXPECT_EQ(fiscal, 22);
    EXPECT_EQ(countOf(logText(), " code:1001\n"), 23);
}

TEST_F(Addin, OpenWithoutAddressOrRegisterReportsNoAddress)
{
    CallResult r = comp->call("Open", {Value::str(u"")});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.result, Value::boolean(false));
    ASSERT_EQ(r.errors.size(), 1u);
    EXPECT_EQ(r.errors[0].scode, 1004);
    EXPECT_EQ(r.errors[0].description, kNoAddressError);
    EXPECT_EQ(comp->get("IP").value, Value::str(kNotConnected)) << "no client";

    // SetParameter writes the property, then connects; the name argument stays.
    r = comp->call("УстановитьПараметр", {Value::str(u"LogLevel"), Value::i4(1)});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.args[0], Value::str(u"LogLevel"));
    ASSERT_EQ(r.errors.size(), 1u);
    EXPECT_EQ(r.errors[0].scode, 1004);
    EXPECT_EQ(comp->get("LogLevel").value, Value::i4(1));

    r = comp->call("DeviceTest");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.result, Value::boolean(false));
    EXPECT_EQ(r.errors.size(), 1u);
    EXPECT_NE(logText().find(" code:1004\n"), std::string::npos);
}

TEST_F(Addin, FailedConnectionIsReportedAndKeepsNoClient)
{
    // Nothing listens on this loopback port's register service; whatever the network
    // client makes of it, the connection fails and is reported once.
    ASSERT_TRUE(comp->set("IP", Value::str(u"127.0.0.1")));
    ASSERT_TRUE(comp->set("Password", Value::str(u"384190")));
    CallResult r = comp->call("Open", {Value::str(u"")});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.result, Value::boolean(false));
    EXPECT_EQ(r.args[0], Value::str(u"")) << "no device ID without a client";
    ASSERT_EQ(r.errors.size(), 1u);
    EXPECT_NE(r.errors[0].scode, 1001);
    EXPECT_NE(r.errors[0].scode, 1004);
    EXPECT_FALSE(r.errors[0].description.empty());
    EXPECT_EQ(r.errors[0].source, kSource);
    EXPECT_EQ(comp->get("ErrorDescription").value, Value::str(kNotConnected));

    ASSERT_TRUE(comp->set("Username", Value::str(u"admin")));
    ASSERT_TRUE(comp->set("Password", Value::str(u"other")));
    comp->call("Open");
    const std::string log = logText();
    EXPECT_EQ(
        countOf(log, "] INFO: Connection to fiscal printer IP: 127.0.0.1, login: service, with default password\n"), 1)
        << log;
    EXPECT_EQ(
        countOf(log, "] INFO: Connection to fiscal printer IP: 127.0.0.1, login: admin, with user defined password\n"),
        1)
        << log;
    EXPECT_EQ(log.find("other"), std::string::npos);
}
