#include "platform/win32/com.h"

namespace zul::win32 {

ComPtr<IDispatch> createByProgId(const wchar_t* progId) {
  ComPtr<IDispatch> object;
  CLSID clsid;
  if (FAILED(CLSIDFromProgID(progId, &clsid))) return object;
  if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IDispatch,
                              object.putVoid()))) {
    object.reset();
  }
  return object;
}

HRESULT invoke(IDispatch* object, const wchar_t* name, WORD kind, Variant* argument, Variant* result) {
  if (!object) return E_POINTER;
  DISPID member = 0;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  const HRESULT found = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &member);
  if (FAILED(found)) return found;

  DISPID putId = DISPID_PROPERTYPUT;
  DISPPARAMS params = {};
  if (argument) {
    params.rgvarg = argument->get();
    params.cArgs = 1;
  }
  if (kind == DISPATCH_PROPERTYPUT) {
    if (!argument) return E_INVALIDARG;
    params.rgdispidNamedArgs = &putId;
    params.cNamedArgs = 1;
  }
  return object->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, kind, &params, result ? result->put() : nullptr,
                        nullptr, nullptr);
}

}  // namespace zul::win32
