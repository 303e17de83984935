// The CNG (bcrypt) handles, owned like every other Windows handle.
#pragma once

#include <windows.h>
// bcrypt.h needs the types windows.h declares.
#include <bcrypt.h>

#include "host/win32/handles.h"

namespace kalmora::win32 {

struct CngProvider : NullIsNone<BCRYPT_ALG_HANDLE> {
  static void Close(BCRYPT_ALG_HANDLE h) { BCryptCloseAlgorithmProvider(h, 0); }
};
using CngAlgorithm = Owned<CngProvider>;

struct CngHashObject : NullIsNone<BCRYPT_HASH_HANDLE> {
  static void Close(BCRYPT_HASH_HANDLE h) { BCryptDestroyHash(h); }
};
using CngHash = Owned<CngHashObject>;

struct CngKeyObject : NullIsNone<BCRYPT_KEY_HANDLE> {
  static void Close(BCRYPT_KEY_HANDLE h) { BCryptDestroyKey(h); }
};
using CngKey = Owned<CngKeyObject>;

}  // namespace kalmora::win32
