// A stand-in for lame_enc.dll that the tests control and that records every
// call it receives.
//
// Control: the environment variable FAKE_LAME holds "key=value" words:
//   samples=N      samples per call given by beInitStream (default 1152)
//   buffer=N       MP3 buffer size given by beInitStream (default 8000)
//   out=N          bytes returned by each beEncodeChunk (default 100); call k fills them with k
//   zero=K,L       calls (1-based) of beEncodeChunk that return 0 bytes
//   failEncode=K   call K of beEncodeChunk returns an error
//   failInit=1     beInitStream returns an error
//   failDeinit=1   beDeinitStream returns an error
//   tail=N         bytes (0xEE) returned by beDeinitStream (default 7)
//   frames=1       every output (of at least 4 bytes) begins with the header of
//                  an MPEG-1 Layer III frame of 417 bytes (128 kbit/s, 44100 Hz)
// Like the real library, the stream is released by beCloseStream when the
// record asked for no information frame, else by beWriteInfoTag (or
// beWriteVBRHeader): a later call on it is recorded with handle=freed.
// Record: one line per call appended to the file named by FAKE_LAME_LOG.
//
// Built in variants: FAKE_NO_INFOTAG leaves out beWriteInfoTag, FAKE_NO_VERSION leaves out beVersion.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <sstream>
#include <string>

#include "encoding.mp3/lame_interface.h"

namespace {

using kit::lame::Config;
using kit::lame::Result;
using kit::lame::Stream;
using kit::lame::Version;

Stream const kStream = reinterpret_cast<Stream>(0x5EED0001);

struct Script {
    uint32_t samples = 1152;
    uint32_t buffer = 8000;
    uint32_t out = 100;
    std::set<uint32_t> zero;
    uint32_t failEncode = 0;
    bool failInit = false;
    bool failDeinit = false;
    uint32_t tail = 7;
    bool frames = false;
};

std::string environment(const char* name) {
    char value[4096];
    DWORD n = ::GetEnvironmentVariableA(name, value, sizeof value);
    return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

Script readScript() {
    Script s;
    std::istringstream words(environment("FAKE_LAME"));
    std::string word;
    while (words >> word) {
        auto eq = word.find('=');
        if (eq == std::string::npos) continue;
        std::string key = word.substr(0, eq), value = word.substr(eq + 1);
        auto number = [&] { return static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 10)); };
        if (key == "samples")
            s.samples = number();
        else if (key == "buffer")
            s.buffer = number();
        else if (key == "out")
            s.out = number();
        else if (key == "failEncode")
            s.failEncode = number();
        else if (key == "failInit")
            s.failInit = number() != 0;
        else if (key == "failDeinit")
            s.failDeinit = number() != 0;
        else if (key == "tail")
            s.tail = number();
        else if (key == "frames")
            s.frames = number() != 0;
        else if (key == "zero") {
            std::istringstream list(value);
            std::string item;
            while (std::getline(list, item, ','))
                s.zero.insert(static_cast<uint32_t>(std::strtoul(item.c_str(), nullptr, 10)));
        }
    }
    return s;
}

Script script;
uint32_t encodeCalls = 0;
bool tagAsked = false;
bool freed = false;

void frameHeader(uint8_t* out, uint32_t n) {
    static const uint8_t kHeader[4] = {0xFF, 0xFB, 0x90, 0x44};
    if (script.frames && n >= 4) std::memcpy(out, kHeader, 4);
}

void record(const std::string& line) {
    std::string path = environment("FAKE_LAME_LOG");
    if (path.empty()) return;
    if (std::FILE* f = std::fopen(path.c_str(), "ab")) {
        std::fprintf(f, "%s\n", line.c_str());
        std::fclose(f);
    }
}

const char* handle(Stream s) { return s != kStream ? "bad" : freed ? "freed" : "ok"; }

long long sizeOf(const char* path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::string hex(const void* data, std::size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    auto p = static_cast<const uint8_t*>(data);
    for (std::size_t i = 0; i < size; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

}  // namespace

extern "C" {

__declspec(dllexport) Result
    __cdecl beInitStream(Config* config, uint32_t* samples, uint32_t* bufferSize, Stream* stream) {
    script = readScript();
    encodeCalls = 0;
    tagAsked = config->bWriteVBRHeader != 0;
    freed = false;
    uint32_t size = config->dwStructSize;
    std::ostringstream line;
    line << "beInitStream size=" << size << " config=" << hex(config, size <= sizeof(Config) ? size : sizeof(Config));
    record(line.str());
    if (script.failInit) return 2;
    *samples = script.samples;
    *bufferSize = script.buffer;
    *stream = kStream;
    return 0;
}

__declspec(dllexport) Result
    __cdecl beEncodeChunk(Stream stream, uint32_t samples, int16_t* pcm, uint8_t* mp3, uint32_t* bytes) {
    uint32_t call = ++encodeCalls;
    std::ostringstream line;
    line << "beEncodeChunk call=" << call << " handle=" << handle(stream) << " n=" << samples;
    if (samples > 0) line << " first=" << pcm[0] << " last=" << pcm[samples - 1];
    if (call == script.failEncode) {
        *bytes = 0;
        record(line.str() + " result=5");
        return 5;
    }
    uint32_t n = script.zero.count(call) ? 0 : script.out;
    if (n > script.buffer) n = script.buffer;
    std::memset(mp3, static_cast<int>(call & 0xFF), n);
    frameHeader(mp3, n);
    *bytes = n;
    line << " out=" << n;
    record(line.str());
    return 0;
}

__declspec(dllexport) Result __cdecl beDeinitStream(Stream stream, uint8_t* mp3, uint32_t* bytes) {
    std::ostringstream line;
    line << "beDeinitStream handle=" << handle(stream);
    if (script.failDeinit) {
        *bytes = 0;
        record(line.str() + " result=5");
        return 5;
    }
    uint32_t n = script.tail <= script.buffer ? script.tail : script.buffer;
    std::memset(mp3, 0xEE, n);
    frameHeader(mp3, n);
    *bytes = n;
    line << " out=" << n;
    record(line.str());
    return 0;
}

__declspec(dllexport) Result __cdecl beCloseStream(Stream stream) {
    record(std::string("beCloseStream handle=") + handle(stream));
    if (!tagAsked) freed = true;
    return 0;
}

#ifndef FAKE_NO_VERSION
__declspec(dllexport) void __cdecl beVersion(Version* v) {
    record("beVersion");
    std::memset(v, 0, sizeof *v);
    v->dllMajor = 1;
    v->dllMinor = 5;
    v->engineMajor = 3;
    v->engineMinor = 100;
    v->day = 8;
    v->month = 12;
    v->year = 2025;
    std::strcpy(v->homepage, "fake lame of the tests");
}
#endif

__declspec(dllexport) Result __cdecl beWriteVBRHeader(const char* fileName) {
    std::ostringstream line;
    line << "beWriteVBRHeader file=" << fileName << " size=" << sizeOf(fileName)
         << " stream=" << (freed ? "freed" : "ok");
    record(line.str());
    freed = true;
    return 0;
}

#ifndef FAKE_NO_INFOTAG
__declspec(dllexport) Result __cdecl beWriteInfoTag(Stream stream, const char* fileName) {
    std::ostringstream line;
    line << "beWriteInfoTag handle=" << handle(stream) << " file=" << fileName << " size=" << sizeOf(fileName);
    record(line.str());
    freed = true;
    return 0;
}
#endif

}  // extern "C"
