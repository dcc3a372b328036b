// Test helper: points the bit writer at a temporary file and gives back what
// reached it, as bytes or as a string of '0' and '1'.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/BitWriter.h"

class StreamCapture {
public:
    StreamCapture() {
        file_ = std::tmpfile();
        VideoStreamFile = file_;
        InitBitWriter();
    }
    ~StreamCapture() {
        VideoStreamFile = nullptr;
        if (file_) std::fclose(file_);
    }
    StreamCapture(const StreamCapture&) = delete;
    StreamCapture& operator=(const StreamCapture&) = delete;

    // Finishes the stream and returns every byte written.
    std::vector<uint8_t> Finish() {
        FinishBitWriter();
        return Written();
    }
    std::vector<uint8_t> Written() {
        std::fflush(file_);
        std::vector<uint8_t> bytes;
        std::rewind(file_);
        int c;
        while ((c = std::fgetc(file_)) != EOF) bytes.push_back(static_cast<uint8_t>(c));
        std::fseek(file_, 0, SEEK_END);
        return bytes;
    }
    // The bits queued so far, without the final padding.
    std::string FinishBits() {
        const int32_t count = TotalBitCount;
        std::string bits = ToBits(Finish());
        return bits.substr(0, static_cast<size_t>(count));
    }

    static std::string ToBits(const std::vector<uint8_t>& bytes) {
        std::string bits;
        for (uint8_t b : bytes)
            for (int i = 7; i >= 0; --i) bits += (b >> i) & 1 ? '1' : '0';
        return bits;
    }

private:
    FILE* file_ = nullptr;
};
