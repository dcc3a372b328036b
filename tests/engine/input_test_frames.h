// Test helpers of the input path: frame stores, packed bitmaps and a small
// in-test AVI source.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "engine/EngineState.h"
#include "engine/Input.h"
#include "settings/EncoderSettings.h"

namespace inputtest {

// Sets the picture size and the geometry the set-up would derive from it.
inline void SetPictureSize(int w, int h) {
    EncoderSettings.horizontalSize = w;
    EncoderSettings.verticalSize = h;
    Sequence.MbWidth = (w + 15) / 16;
    Sequence.MbHeight = (h + 15) / 16;
    Sequence.EncodeWidth = 16 * Sequence.MbWidth;
    Sequence.EncodeHeight = 16 * Sequence.MbHeight;
    Sequence.ChromaWidth = Sequence.EncodeWidth / 2;
    Sequence.ChromaHeight = Sequence.EncodeHeight / 2;
}

struct Store {
    std::vector<uint8_t> y, cb, cr;
    FramePlanes planes;
    explicit Store(uint8_t fill = 0x5A)
        : y((Sequence.EncodeHeight + 1) * Sequence.EncodeWidth, fill),
          cb((Sequence.ChromaHeight + 1) * Sequence.ChromaWidth, fill),
          cr((Sequence.ChromaHeight + 1) * Sequence.ChromaWidth, fill) {
        planes = {y.data(), cb.data(), cr.data()};
    }
    bool operator==(const Store& o) const { return y == o.y && cb == o.cb && cr == o.cr; }
};

inline void PutLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// A packed bottom-up bitmap: header, palette, rows padded to 4 bytes. Pixel
// bytes come from `pixel(x, row, channel)`.
template <class F>
std::vector<uint8_t> MakeBitmap(int w, int h, int bits, const std::vector<uint32_t>& palette, F pixel) {
    const int bytesPerPixel = bits / 8;
    const int row = (w * bytesPerPixel + 3) & ~3;
    std::vector<uint8_t> b(40 + 4 * palette.size() + static_cast<size_t>(row) * h, 0);
    PutLe32(&b[0], 40);
    PutLe32(&b[4], static_cast<uint32_t>(w));
    PutLe32(&b[8], static_cast<uint32_t>(h));
    b[12] = 1;
    b[14] = static_cast<uint8_t>(bits);
    PutLe32(&b[32], static_cast<uint32_t>(palette.size()));
    for (size_t i = 0; i < palette.size(); ++i) PutLe32(&b[40 + 4 * i], palette[i]);
    uint8_t* px = &b[40 + 4 * palette.size()];
    for (int r = 0; r < h; ++r)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < bytesPerPixel; ++c) px[r * row + x * bytesPerPixel + c] = pixel(x, r, c);
    return b;
}

// 24-bit content that differs from frame to frame.
inline std::vector<uint8_t> FrameBitmap(int frame, int w, int h) {
    return MakeBitmap(w, h, 24, {}, [&](int x, int r, int c) {
        return static_cast<uint8_t>((x * 7 + r * 13 + c * 71 + frame * 29) ^ (frame * 5));
    });
}

// The in-test AVI source: frames first..end-1, each a fresh 24-bit bitmap;
// counts reads and notices two threads inside it at once.
struct TestAviSource {
    static inline int first = 0, end = 100, width = 32, height = 16;
    static inline int failAt = -1;  // this frame cannot be read
    static inline std::atomic<int> reads{0}, inside{0}, overlaps{0}, repeats{0};
    static inline std::vector<int> timesRead;  // per frame number
    static inline std::vector<uint8_t> buffer;
    static inline std::map<int, std::vector<uint8_t>> overrides;  // frames with other content

    static const uint8_t* Read(int frame) {
        if (inside.fetch_add(1) != 0) overlaps.fetch_add(1);
        reads.fetch_add(1);
        if (frame >= 0 && frame < static_cast<int>(timesRead.size()) && timesRead[frame]++ > 0) repeats.fetch_add(1);
        const uint8_t* result = nullptr;
        if (frame >= first && frame < end && frame != failAt) {
            auto it = overrides.find(frame);
            buffer = it != overrides.end() ? it->second : FrameBitmap(frame, width, height);
            result = buffer.data();
        }
        inside.fetch_sub(1);
        return result;
    }
    static int Open() { return 1; }
    static int First() { return first; }
    static int End() { return end; }

    // Installs the source and a fresh cache for the current picture size.
    static void Install(int firstFrame, int endFrame) {
        first = firstFrame;
        end = endFrame;
        width = EncoderSettings.horizontalSize;
        height = EncoderSettings.verticalSize;
        failAt = -1;
        reads = 0;
        overlaps = 0;
        repeats = 0;
        timesRead.assign(1000, 0);
        overrides.clear();
        InputAvi = {};
        InputAvi.readFrame = Read;
        InputAvi.isOpen = Open;
        InputAvi.firstFrame = First;
        InputAvi.endFrame = End;
        FrameRateConversion = {};
        InputState.OldestNeededFrame = 0;
        AllocateInputFrameCache();
        ResetInputState();
    }
};

}  // namespace inputtest
