// Names by which the host finds the component's properties and methods. Each entry has
// an English and a Russian name; the index is the number the host uses afterwards.
#pragma once

#include <cstdint>

namespace oltra {

struct PropertyInfo {
    const char16_t* english;
    const char16_t* russian;
    bool readable;
    bool writable;
};

struct MethodInfo {
    const char16_t* english;
    const char16_t* russian;
    int32_t paramCount;
};

enum Property : long {
    ePropVersion = 0,
    ePropName,
    ePropDescription,
    ePropEquipmentType,
    ePropInterfaceRevision,
    ePropIntegrationLibrary,
    ePropMainDriverInstalled,
    ePropDownloadURL,
    ePropErrorDescription,
    ePropTableParameters,
    ePropDeviceID,
    ePropDemoModeIsActivated,
    ePropTableActions,
    ePropActionName,
    ePropIP,
    ePropUsername,
    ePropPassword,
    ePropLogLevel,
    ePropDefaultTaxGroup,
    ePropCount
};

enum Method : long {
    eMethGetVersion = 0,
    eMethGetDescription,
    eMethGetLastError,
    eMethGetParameters,
    eMethSetParameter,
    eMethOpen,
    eMethClose,
    eMethDeviceTest,
    eMethGetAdditionalActions,
    eMethDoAdditionalAction,
    eMethOpenShift,
    eMethOpenCheck,
    eMethPrintFiscalString,
    eMethPrintNonFiscalString,
    eMethPrintBarCode,
    eMethCloseCheck,
    eMethCancelCheck,
    eMethCashInOutcome,
    eMethPrintXReport,
    eMethPrintZReport,
    eMethOpenCashDrawer,
    eMethGetLineLength,
    eMethSearchIP,
    eMethPrintXReportByGoods,
    eMethPrintZReportByGoods,
    eMethPrintFullFiscalReportByDates,
    eMethPrintFullFiscalReportByZNumbers,
    eMethPrintShortFiscalReportByDates,
    eMethPrintShortFiscalReportByZNumbers,
    eMethPrintReceiptCopy,
    eMethPrintNullReceipt,
    eMethShowMessage,
    eMethGetCurrentReceiptNumber,
    eMethCount
};

extern const PropertyInfo kProperties[ePropCount];
extern const MethodInfo kMethods[eMethCount];

// Exact, case-sensitive match: every English name first, then every Russian name.
// -1 when nothing matches (or name is null).
long findProperty(const char16_t* name);
long findMethod(const char16_t* name);

// The English (alias 0) or Russian (alias 1) name; null for any other index or alias.
const char16_t* propertyName(long index, long alias);
const char16_t* methodName(long index, long alias);

} // namespace oltra
