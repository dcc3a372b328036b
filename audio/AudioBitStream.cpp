// Bit writer of the audio stream: a 4096-byte buffer filled from its top
// down and written with one call per flush; every write is checked.
#include <vector>

#include "audio/AudioEncoder.h"
#include "settings/Report.h"

namespace {
const uint32_t kMask[9] = {0x0, 0x1, 0x3, 0x7, 0xF, 0x1F, 0x3F, 0x7F, 0xFF};
}

void FlushAudioBitBuffer(AudioBitStream& s, int keep) {
    std::vector<uint8_t> out;
    for (int i = s.bufferSize - 1; i >= keep; i--) out.push_back(s.buffer[i]);
    if (Audio.AudioWriteState == 0 && !out.empty()) {
        size_t written = std::fwrite(out.data(), 1, out.size(), s.file);
        if (written != out.size() || std::ferror(s.file)) {
            Audio.AudioWriteState = 1;
            ReportAudioWriteError();
        }
    }
    // The bytes not yet written move to the top, in the same order.
    int remaining = keep;
    for (int i = 0; i < remaining; i++) s.buffer[s.bufferSize - remaining + i] = s.buffer[i];
    s.bitIndex = 8;
    s.byteIndex = s.bufferSize - 1 - keep;
}

void PutAudioBits(AudioBitStream& s, uint32_t value, int n) {
    s.totalBits += n;
    if (n < s.bitIndex) {
        // The bits fit in the byte in hand without filling it.
        s.buffer[s.byteIndex] |= static_cast<uint8_t>((value & kMask[n]) << (s.bitIndex - n));
        s.bitIndex -= n;
        return;
    }
    while (n > 0) {
        int k = std::min(n, s.bitIndex);
        uint32_t piece = (value >> (n - k)) & kMask[k];
        s.buffer[s.byteIndex] |= static_cast<uint8_t>(piece << (s.bitIndex - k));
        s.bitIndex -= k;
        n -= k;
        if (s.bitIndex == 0) {
            s.bitIndex = 8;
            s.byteIndex--;
            if (s.byteIndex < 0) FlushAudioBitBuffer(s, 4);
            s.buffer[s.byteIndex] = 0;
        }
    }
}

void PutAudioBit(AudioBitStream& s, int bit) { PutAudioBits(s, bit & 1, 1); }
