// The pieces of the method frame that the register members share (fiscal_printer.h
// describes the frame): the client's text as ANSI for the entry event and as register
// bytes for the request, and the exchange that ends a failed call.
#pragma once

#include <string>

#include "comserver/driver_string.h"
#include "comserver/fiscal_printer.h"
#include "serialproto/receipt.h"

namespace frame {

// A client's text as ANSI (the text as given, for the entry event).
inline DriverString Ansi(BSTR text)
{
    DriverString s;
    s.AssignWide(text);
    return s;
}

// Text for the register: the register's code page, as bytes (the encoders cut it to
// the field and replace control bytes).
inline std::string ForRegister(DriverString text)
{
    text.ToOem();
    return text.Text();
}

inline int Flag(VARIANT_BOOL v) { return v ? 1 : 0; }

// The exchange of a member: a failed encoding (argument check) or link failure ends the
// call with CallFailed; the caller decodes the answer and calls CallSucceeded.
inline HRESULT Exchange(FiscalPrinter& fp, fpresult::Result encoded, const serialproto::Request& request,
                        const char* method)
{
    if (FAILED(encoded)) return fp.CallFailed(encoded, method);
    const HRESULT hr = fp.Serial.Link.SendCommand(request.data(), request.size());
    if (FAILED(hr)) return fp.LinkFailed(hr, method);
    return S_OK;
}

// A member whose answer carries nothing.
inline HRESULT Simple(FiscalPrinter& fp, fpresult::Result encoded, const serialproto::Request& request,
                      const char* method)
{
    const HRESULT hr = Exchange(fp, encoded, request, method);
    if (SUCCEEDED(hr)) fp.CallSucceeded(method);
    return hr;
}

} // namespace frame
