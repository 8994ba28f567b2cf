#include "addin/method_tables.h"

namespace oltra {

// "URLCкачивания" holds a Latin C (U+0043); "ПолучитIP" has no soft sign; the Z of the
// fiscal reports by Z numbers is Latin.
const PropertyInfo kProperties[ePropCount] = {
    {u"Version", u"Версия", true, false},
    {u"Name", u"Наименование", true, false},
    {u"Description", u"Описание", true, false},
    {u"EquipmentType", u"ТипОборудования", true, false},
    {u"InterfaceRevision", u"РевизияИнтерфейса", true, false},
    {u"IntegrationLibrary", u"ИнтеграционнаяБиблиотека", true, false},
    {u"MainDriverInstalled", u"ОсновнойДрайверУстановлен", true, false},
    {u"DownloadURL", u"URL\u0043качивания", true, false},
    {u"ErrorDescription", u"ОписаниеОшибки", true, false},
    {u"TableParameters", u"ТаблицаПараметров", true, false},
    {u"DeviceID", u"ИДУстройства", true, false},
    {u"DemoModeIsActivated", u"АктивированДемоРежим", true, false},
    {u"TableActions", u"ТаблицаДействий", true, false},
    {u"ActionName", u"ИмяДействия", true, false},
    {u"IP", u"IP", true, true},
    {u"Username", u"ИмяПользователя", true, true},
    {u"Password", u"Пароль", false, true},
    {u"LogLevel", u"УровеньЖурналирования", true, true},
    {u"DefaultTaxGroup", u"НалоговаяГруппаПоУмолчанию", true, true},
};

const MethodInfo kMethods[eMethCount] = {
    {u"GetVersion", u"ПолучитьНомерВерсии", 0},
    {u"GetDescription", u"ПолучитьОписание", 7},
    {u"GetLastError", u"ПолучитьОшибку", 1},
    {u"GetParameters", u"ПолучитьПараметры", 1},
    {u"SetParameter", u"УстановитьПараметр", 2},
    {u"Open", u"Подключить", 1},
    {u"Close", u"Отключить", 1},
    {u"DeviceTest", u"ТестУстройства", 2},
    {u"GetAdditionalActions", u"ПолучитьДополнительныеДействия", 1},
    {u"DoAdditionalAction", u"ВыполнитьДополнительноеДействие", 1},
    {u"OpenShift", u"ОткрытьСмену", 1},
    {u"OpenCheck", u"ОткрытьЧек", 6},
    {u"PrintFiscalString", u"НапечататьФискСтроку", 7},
    {u"PrintNonFiscalString", u"НапечататьНефискСтроку", 2},
    {u"PrintBarCode", u"НапечататьШтрихКод", 3},
    {u"CloseCheck", u"ЗакрытьЧек", 5},
    {u"CancelCheck", u"ОтменитьЧек", 1},
    {u"CashInOutcome", u"НапечататьЧекВнесенияВыемки", 2},
    {u"PrintXReport", u"НапечататьОтчетБезГашения", 1},
    {u"PrintZReport", u"НапечататьОтчетСГашением", 1},
    {u"OpenCashDrawer", u"ОткрытьДенежныйЯщик", 1},
    {u"GetLineLength", u"ПолучитьШиринуСтроки", 2},
    {u"SearchIP", u"ПолучитIP", 1},
    {u"PrintXReportByGoods", u"НапечататьОтчетБезГашенияПоТоварам", 1},
    {u"PrintZReportByGoods", u"НапечататьОтчетСГашениемПоТоварам", 1},
    {u"PrintFullFiscalReportByDates", u"НапечататьПолныйФискальныйОтчетПоДатам", 3},
    {u"PrintFullFiscalReportByZNumbers", u"НапечататьПолныйФискальныйОтчетПо\u005AНомерам", 3},
    {u"PrintShortFiscalReportByDates", u"НапечататьКраткийФискальныйОтчетПоДатам", 3},
    {u"PrintShortFiscalReportByZNumbers", u"НапечататьКраткийФискальныйОтчетПо\u005AНомерам", 3},
    {u"PrintReceiptCopy", u"НапечататьКопиюПоследнегоЧека", 1},
    {u"PrintNullReceipt", u"НапечататьНулевойЧек", 1},
    {u"ShowMessage", u"ПоказатьСообщение", 1},
    {u"GetCurrentReceiptNumber", u"ПолучитьНомерТекущегоЧека", 2},
};

namespace {

bool sameName(const char16_t* a, const char16_t* b)
{
    while (*a && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

template <typename Entry, long N>
long findIn(const Entry (&table)[N], const char16_t* name)
{
    if (!name) return -1;
    for (long i = 0; i < N; ++i)
        if (sameName(table[i].english, name)) return i;
    for (long i = 0; i < N; ++i)
        if (sameName(table[i].russian, name)) return i;
    return -1;
}

template <typename Entry, long N>
const char16_t* nameIn(const Entry (&table)[N], long index, long alias)
{
    if (index < 0 || index >= N) return nullptr;
    if (alias == 0) return table[index].english;
    if (alias == 1) return table[index].russian;
    return nullptr;
}

} // namespace

long findProperty(const char16_t* name) { return findIn(kProperties, name); }
long findMethod(const char16_t* name) { return findIn(kMethods, name); }
const char16_t* propertyName(long index, long alias) { return nameIn(kProperties, index, alias); }
const char16_t* methodName(long index, long alias) { return nameIn(kMethods, index, alias); }

} // namespace oltra
