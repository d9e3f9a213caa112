#include "kit/regkey.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "diagnostics/eventlog.h"
#include "kit/exceptions.h"

namespace kit {
namespace {

constexpr const char* kSource = "kit_regkey";

bool isText(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

}  // namespace

RegKey::RegKey(HKEY root, const char* subKey, bool writable) {
    HKEY key = nullptr;
    REGSAM access = writable ? (KEY_READ | KEY_WRITE) : KEY_READ;
    LONG r = ::RegCreateKeyExA(root, subKey, 0, nullptr, 0, access, nullptr, &key, nullptr);
    if (r != ERROR_SUCCESS) {
        setOrigin(kSource, __LINE__, "kit::RegKey::RegKey");
        throw WindowsSpecError("RegCreateKeyEx failed", static_cast<uint32_t>(r));
    }
    data = smartptr<RegKeyData>(new RegKeyData(key));
}

shared_string RegKey::readString(const char* name, DWORD sizeHint) const {
    // Every buffer gets one zero byte more than its size, so that stored text
    // without a terminator still ends.
    std::vector<char> buffer;
    bool haveBuffer = false;
    if (sizeHint) {
        buffer.assign(sizeHint + 1, '\0');
        haveBuffer = true;
    }
    for (int round = 0; round < 3; ++round) {
        DWORD type = 0;
        DWORD size = haveBuffer ? static_cast<DWORD>(buffer.size() - 1) : 0;
        LONG r = ::RegQueryValueExA(data->handle(), name, nullptr, &type,
                                    haveBuffer ? reinterpret_cast<BYTE*>(buffer.data()) : nullptr, &size);
        if (r != ERROR_SUCCESS && r != ERROR_MORE_DATA) {
            setOrigin(kSource, __LINE__, "kit::RegKey::readString");
            throw RegNoValueError();
        }
        if (!isText(type)) {
            setOrigin(kSource, __LINE__, "kit::RegKey::readString");
            throw RegInvalidDataTypeError();
        }
        if (r == ERROR_SUCCESS && haveBuffer) return shared_string(buffer.data());
        buffer.assign(static_cast<std::size_t>(size) + 1, '\0');
        haveBuffer = true;
    }
    setOrigin(kSource, __LINE__, "kit::RegKey::readString");
    throw RegStrangeThingsHappen();
}

uint32_t RegKey::readUnsigned(const char* name) const {
    DWORD value = 0;
    DWORD type = 0;
    DWORD size = sizeof value;
    LONG r = ::RegQueryValueExA(data->handle(), name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    if (r == ERROR_SUCCESS && type == REG_DWORD) return value;
    if (r != ERROR_SUCCESS && r != ERROR_MORE_DATA) {
        setOrigin(kSource, __LINE__, "kit::RegKey::readUnsigned");
        throw RegNoValueError();
    }
    if (type != REG_SZ) {
        setOrigin(kSource, __LINE__, "kit::RegKey::readUnsigned");
        throw RegInvalidDataTypeError();
    }
    shared_string text = readString(name, size);
    return static_cast<uint32_t>(std::strtol(text.c_str(), nullptr, 10));
}

void RegKey::writeString(const char* name, const char* text, DWORD type) const {
    if (!(type == REG_SZ || type == REG_EXPAND_SZ))
        fw::assertionFailed(kSource, __LINE__, "REG_SZ == type || REG_EXPAND_SZ == type");
    const char* value = text ? text : "";
    LONG r = ::RegSetValueExA(data->handle(), name, 0, type, reinterpret_cast<const BYTE*>(value),
                              static_cast<DWORD>(std::strlen(value) + 1));
    if (r != ERROR_SUCCESS) {
        setOrigin(kSource, __LINE__, "kit::RegKey::writeString");
        throw WindowsSpecError("RegSetValueEx failed", static_cast<uint32_t>(r));
    }
}

void RegKey::writeUnsigned(const char* name, uint32_t value) const {
    DWORD v = value;
    LONG r = ::RegSetValueExA(data->handle(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v);
    if (r != ERROR_SUCCESS) {
        setOrigin(kSource, __LINE__, "kit::RegKey::writeUnsigned");
        throw WindowsSpecError("RegSetValueEx failed", static_cast<uint32_t>(r));
    }
}

void RegKey::deleteValue(const char* name) const {
    LONG r = ::RegDeleteValueA(data->handle(), name);
    if (r != ERROR_SUCCESS && r != ERROR_FILE_NOT_FOUND) {
        setOrigin(kSource, __LINE__, "kit::RegKey::deleteValue");
        throw WindowsSpecError("RegDeleteValue failed", static_cast<uint32_t>(r));
    }
}

}  // namespace kit
