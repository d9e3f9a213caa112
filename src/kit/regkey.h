// One open registry key with typed reads and writes. Copies share the open
// handle; it is closed when the last copy goes.
#pragma once

#include <windows.h>

#include <cstdint>

#include "kit/refcounted.h"
#include "kit/scoped.h"
#include "kit/shared_string.h"

namespace kit {

class RegKeyData : public refcounted {
public:
    explicit RegKeyData(HKEY key_) noexcept : key(key_) {}
    HKEY handle() const noexcept { return key.get(); }

private:
    ScopedKey key;
};

class RegKey {
public:
    // Opens the key, creating it when it does not exist (also for reading).
    // Throws WindowsSpecError "RegCreateKeyEx failed".
    RegKey(HKEY root, const char* subKey, bool writable);

    // RegNoValueError, RegInvalidDataTypeError or RegStrangeThingsHappen.
    shared_string readString(const char* name, DWORD sizeHint = 0) const;
    // REG_DWORD, or REG_SZ text read as a decimal number.
    uint32_t readUnsigned(const char* name) const;
    void writeString(const char* name, const char* text, DWORD type = REG_SZ) const;
    void writeUnsigned(const char* name, uint32_t value) const;
    // A value that is not there is gone already: only a value that stays
    // (access denied, ...) throws WindowsSpecError "RegDeleteValue failed".
    void deleteValue(const char* name) const;

    HKEY handle() const { return data->handle(); }

private:
    smartptr<RegKeyData> data;
};

}  // namespace kit
