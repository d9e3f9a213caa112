// The BladeEnc-style interface of the LAME encoder library "lame_enc.dll", as
// this program uses it: the records it exchanges and its entry points. Declared
// here from the library's documented layout, byte by byte.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kit::lame {

using Result = uint32_t;  // 0: success
using Stream = void*;

constexpr uint32_t kConfigLame = 256;  // dwConfig of the LAME form of the record
constexpr uint32_t kConfigSize = 331;
constexpr int32_t kModeJointStereo = 1;
constexpr uint32_t kMpeg1 = 1;

// The encoder configuration record in its LAME form: 331 bytes, 32-bit little-endian fields.
#pragma pack(push, 1)
struct Config {
    uint32_t dwConfig;
    uint32_t dwStructVersion;
    uint32_t dwStructSize;
    uint32_t dwSampleRate;
    uint32_t dwReSampleRate;
    int32_t nMode;
    uint32_t dwBitrate;
    uint32_t dwMaxBitrate;
    int32_t nPreset;
    uint32_t dwMpegVersion;
    uint32_t dwPsyModel;
    uint32_t dwEmphasis;
    int32_t bPrivate;
    int32_t bCRC;
    int32_t bCopyright;
    int32_t bOriginal;
    int32_t bWriteVBRHeader;
    int32_t bEnableVBR;
    int32_t nVBRQuality;
    uint32_t dwVbrAbr_bps;
    int32_t nVbrMethod;
    int32_t bNoRes;
    int32_t bStrictIso;
    uint16_t nQuality;
    uint8_t btReserved[237];
};
#pragma pack(pop)

static_assert(sizeof(Config) == kConfigSize);
static_assert(offsetof(Config, dwSampleRate) == 12);
static_assert(offsetof(Config, nMode) == 20);
static_assert(offsetof(Config, dwBitrate) == 24);
static_assert(offsetof(Config, dwMaxBitrate) == 28);
static_assert(offsetof(Config, nPreset) == 32);
static_assert(offsetof(Config, dwMpegVersion) == 36);
static_assert(offsetof(Config, dwEmphasis) == 44);
static_assert(offsetof(Config, bCRC) == 52);
static_assert(offsetof(Config, bOriginal) == 60);
static_assert(offsetof(Config, bWriteVBRHeader) == 64);
static_assert(offsetof(Config, bEnableVBR) == 68);
static_assert(offsetof(Config, bNoRes) == 84);
static_assert(offsetof(Config, nQuality) == 92);

// The library's version record (natural layout, as the library fills it).
struct Version {
    uint8_t dllMajor;
    uint8_t dllMinor;
    uint8_t engineMajor;
    uint8_t engineMinor;
    uint8_t day;
    uint8_t month;
    uint16_t year;
    char homepage[129];
    uint8_t alphaLevel;
    uint8_t betaLevel;
    uint8_t mmxEnabled;
    uint8_t reserved[125];
};
static_assert(offsetof(Version, year) == 6);
static_assert(offsetof(Version, homepage) == 8);
static_assert(offsetof(Version, reserved) == 140);

// The entry points (C calling convention).
using InitStreamFn = Result(__cdecl*)(Config* config, uint32_t* samplesPerCall, uint32_t* mp3BufferSize,
                                      Stream* stream);
using EncodeChunkFn = Result(__cdecl*)(Stream stream, uint32_t samples, int16_t* pcm, uint8_t* mp3, uint32_t* mp3Bytes);
using DeinitStreamFn = Result(__cdecl*)(Stream stream, uint8_t* mp3, uint32_t* mp3Bytes);
using CloseStreamFn = Result(__cdecl*)(Stream stream);
using VersionFn = void(__cdecl*)(Version* version);
using WriteVBRHeaderFn = Result(__cdecl*)(const char* fileName);
using WriteInfoTagFn = Result(__cdecl*)(Stream stream, const char* fileName);

}  // namespace kit::lame
