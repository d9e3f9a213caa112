// One recording, from its start to the end of its finish: the capture, the
// stream it fills, and the encoder once the file is chosen. The engine holds
// it on the user-interface thread; a finish hands it to the finalizer, whose
// thread alone holds it from then on.
#pragma once

#include "encoding.common/encoding_stream.h"
#include "encoding.common/rate_parts.h"
#include "encoding.common/sound_format.h"
#include "kit/refcounted.h"
#include "sound.capture/sound_recorder.h"

namespace engine {

struct Recording {
    kit::smartptr<kit::GenericSoundEncodingStream> stream;
    kit::smartptr<kit::SoundRecorder> recorder;
    kit::smartptr<kit::ISoundEncoder> encoder;   // what the stream writes to: null until the file is chosen
    kit::smartptr<kit::RatePartsEncoder> parts;  // the files, behind the narrowing of 32-bit samples
    kit::SoundFormat format{};                   // the line's, or loopback's at the device's rate (32-bit)
    int fileBits = 16;                           // the bits of the file's samples (16 or 24)
};

}  // namespace engine
