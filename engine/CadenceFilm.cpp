// Film mode: for 3:2 pulled-down film, finds which frame (current, previous or
// next) holds the field that belongs to the current frame's kept field, helped
// by the history of earlier choices, and weaves it in or falls back to
// interpolation. Diagnostics go to the debug output only.
#include <algorithm>
#include <cstring>
#include <string>

#include "engine/Deinterlace.h"
#include "engine/Input.h"
#include "platform/Format.h"
#include "platform/System.h"

FieldChoiceRing FieldChoiceHistory;
int FieldSelectionWorkedCount = 0;
int EdgeSelectionWrongCount = 0;

void ResetFieldAnalysis() {
    DeinterlaceAndAnalyseFrame = DeinterlaceInputFrame;
    FieldChoiceHistory = FieldChoiceRing{};
    FieldSelectionWorkedCount = 0;
    EdgeSelectionWrongCount = 0;
}

uint64_t FieldDifferenceEnergy(const uint8_t* a, const uint8_t* b, int width, int height) {
    const size_t line = BitmapRowBytes(width);
    const int bytes = (3 * width + 23) / 24;
    // The running sum carries over from row to row; the thresholds of the
    // decision are tuned to that.
    uint64_t running = 0, energy = 0;
    for (int k = 1; k <= height / 2 - 2; ++k) {
        const uint8_t* ra = a + (2 * k - 1) * line;
        const uint8_t* rb = b + (2 * k - 1) * line;
        for (int j = 0; j < bytes; ++j) {
            const int d = ra[j] - rb[j];
            running += static_cast<uint64_t>(d * d);
        }
        energy += running >> 8;
    }
    return energy;
}

int FilmCadenceMatches(int hypothesis, int frame) {
    const int64_t phase = (static_cast<int64_t>(frame) + hypothesis % 5) % 5;
    if (phase < 3) return FIELD_CURRENT;
    return hypothesis < 5 ? FIELD_PREVIOUS : FIELD_NEXT;
}

namespace {

const char* const FieldNames[3] = {"cur", "prev", "next"};
const char* const FrameNames[3] = {"current", "prev", "next"};

bool Debugging() { return platform::DebugOutputEnabled(); }

void EnergyLine(const std::string& label, uint64_t value) {
    std::string text = platform::Format("%s sum of squares %8llu", label.c_str(), static_cast<unsigned long long>(value));
    text.append(static_cast<size_t>(std::min<uint64_t>(value / 100000, 60)), '*');
    text += '\n';
    platform::DebugOutput(text);
}

// Copies input frame n into `buffer` when it can be had with the current
// frame's size and 24 bits per pixel; null otherwise.
const uint8_t* FetchNeighbour(const FilmFrameSource& source, int n, int width, int height, uint8_t* buffer) {
    if (!source.getFrame || n < source.firstFrame || n >= source.endFrame) return nullptr;
    const uint8_t* packed = source.getFrame(n);
    if (!packed) return nullptr;
    auto u32 = [packed](int at) {
        return static_cast<uint32_t>(packed[at]) | static_cast<uint32_t>(packed[at + 1]) << 8 |
               static_cast<uint32_t>(packed[at + 2]) << 16 | static_cast<uint32_t>(packed[at + 3]) << 24;
    };
    const int32_t w = static_cast<int32_t>(u32(4)), h = static_cast<int32_t>(u32(8));
    const int bits = packed[14] | packed[15] << 8;
    const uint32_t paletteCount = u32(32);
    if (w != width || h != height || bits != 24 || paletteCount > 256) return nullptr;
    std::memcpy(buffer, packed + 40 + 4 * paletteCount, BitmapRowBytes(width) * height);
    return buffer;
}

// The smallest energy among the frames that can be had: current first, then a
// neighbour only when strictly smaller.
int Smallest(const uint64_t (&e)[3], const bool (&available)[3]) {
    int choice = FIELD_CURRENT;
    for (int k = 1; k < 3; ++k)
        if (available[k] && e[k] < e[choice]) choice = k;
    return choice;
}

struct Hypotheses {
    int suggestion = -1;  // -1 no history yet, -10 no clear cadence
    int best = 0, bestCount = 0, nextBest = 0;
};

Hypotheses ScoreHypotheses(int n) {
    Hypotheses result;
    const FieldChoiceRing& ring = FieldChoiceHistory;
    if (ring.count <= 10) return result;
    const int positions = std::min(ring.count - 1, 32);
    int counts[10] = {};
    int total = 0;
    for (int h = 0; h < 10; ++h) {
        for (int i = 0; i < positions; ++i)
            if (ring.entries[i].choice == FilmCadenceMatches(h, ring.entries[i].frame)) ++counts[h];
        total += counts[h];
        if (counts[h] > counts[result.best]) result.best = h;
    }
    result.bestCount = counts[result.best];
    for (int h = 0; h < 10; ++h)
        if (h != result.best) result.nextBest = std::max(result.nextBest, counts[h]);
    const bool clear = result.nextBest < result.bestCount - 2 && total / 10 < result.bestCount / 2;
    result.suggestion = clear ? FilmCadenceMatches(result.best, n) : -10;
    if (Debugging())
        platform::DebugOutput(platform::Format(
            "best statistical hypothese No %d   correct predictions count %d  next best count %d\n", result.best,
            result.bestCount, result.nextBest));
    return result;
}

void WeaveRows(uint8_t* out, const uint8_t* from, int choice, int width, int height, bool marker) {
    const size_t line = BitmapRowBytes(width);
    const size_t bytes = static_cast<size_t>(3) * width;
    for (int r = 1; r < height - 2; r += 2) {
        uint8_t* row = out + r * line;
        if (marker && r / 2 == height / 4) {
            std::memset(row, 0, bytes);
            // Red for the current frame, blue for the previous, green for the next.
            const int channel = choice == FIELD_CURRENT ? 2 : choice == FIELD_PREVIOUS ? 0 : 1;
            for (size_t x = static_cast<size_t>(channel); x < bytes; x += 3) row[x] = 0xF0;
        } else {
            std::memcpy(row, from + r * line, bytes);
        }
    }
}

}  // namespace

uint8_t* FilmModeDeinterlace(const uint8_t* frame, int width, int height, int n, const FilmFrameSource& source,
                             int mode) {
    uint8_t* current = DeinterlaceBuffers[0];
    uint8_t* out = DeinterlaceBuffers[1];
    const size_t size = BitmapRowBytes(width) * height;
    if (FieldChoiceHistory.count == 0) {
        FieldSelectionWorkedCount = 0;
        EdgeSelectionWrongCount = 0;
    }
    // The frame is copied before any neighbour is fetched: a fetch may reuse
    // the buffer the frame came in.
    std::memcpy(current, frame, size);
    std::memcpy(out, frame, size);
    BlendFieldRows(out, width, height, BitmapRowBytes(width), (mode & DEINTERLACE_EDGE_ADAPTIVE) != 0);

    const Hypotheses cadence = ScoreHypotheses(n);
    const bool debug = Debugging();

    const uint8_t* frames[3] = {current, nullptr, nullptr};
    frames[1] = FetchNeighbour(source, n - 1, width, height, DeinterlaceBuffers[2]);
    frames[2] = FetchNeighbour(source, n + 1, width, height, DeinterlaceBuffers[3]);
    const bool available[3] = {true, frames[1] != nullptr, frames[2] != nullptr};
    uint64_t energy[3];
    energy[0] = FieldDifferenceEnergy(current, out, width, height);
    for (int k = 1; k < 3; ++k)
        energy[k] = available[k] ? FieldDifferenceEnergy(out, frames[k], width, height) : FieldUnavailableEnergy;
    if (debug) {
        EnergyLine(platform::Format("frame %4d", n), energy[0]);
        EnergyLine("prev frame", energy[1]);
        EnergyLine("next frame", energy[2]);
        if (cadence.suggestion >= 0)
            platform::DebugOutput(
                platform::Format("best hypothese suggests to use %s field\n", FieldNames[cadence.suggestion]));
    }

    const int edges = SelectFieldByEdges(current, frames[1], frames[2], width, height);
    if (edges >= 0) energy[edges] /= 2;
    if (debug) {
        if (edges >= 0)
            platform::DebugOutput(platform::Format("-|- edge selection suggests to use %s field\n", FieldNames[edges]));
        else if (edges == EDGE_NO_FIELD_USABLE)
            platform::DebugOutput("-|- edge selection tells non of the fields useable\n");
        else
            platform::DebugOutput("-|- edge selection did not give any reliable selection\n");
        const uint64_t most = std::max({energy[0], energy[1], energy[2]});
        const uint64_t least = std::min({energy[0], energy[1], energy[2]});
        if (most <= 2 * least)
            platform::DebugOutput("Preliminary selection: use simple deinterlace\n");
        else
            platform::DebugOutput(platform::Format("Preliminary selection: use %s frame field for better deinterlace\n",
                                                   FrameNames[Smallest(energy, available)]));
    }

    if (cadence.suggestion == FIELD_CURRENT && cadence.bestCount > 8 && n > 8 &&
        ((cadence.best % 5 + n - 1) % 5) < 3 && FilmCadenceMatches(cadence.best, n - 2) == FIELD_CURRENT &&
        FilmCadenceMatches(cadence.best, n - 3) != FIELD_CURRENT)
        energy[0] /= 2;
    if (cadence.suggestion >= 0) {
        uint64_t& e = energy[cadence.suggestion];
        e = (e / 8) * (cadence.bestCount > 16 ? 3 : 5);
    }
    energy[0] = (15 * energy[0]) / 16;

    const uint64_t most = std::max({energy[0], energy[1], energy[2]});
    const uint64_t least = std::min({energy[0], energy[1], energy[2]});
    const int choice = most > 3 * least ? Smallest(energy, available) : FIELD_INTERPOLATE;
    if (debug) {
        if (choice == FIELD_INTERPOLATE)
            platform::DebugOutput("use simple deinterlace\n");
        else
            platform::DebugOutput(platform::Format("use %s frame field for better deinterlace\n", FrameNames[choice]));
    }

    FieldChoiceEntry& entry = FieldChoiceHistory.entries[FieldChoiceHistory.count % 32];
    entry.frame = n;
    entry.choice = choice;
    ++FieldChoiceHistory.count;

    if (choice != FIELD_INTERPOLATE) {
        if (choice == cadence.suggestion && cadence.bestCount > 16) {
            ++FieldSelectionWorkedCount;
            if (debug) platform::DebugOutput("best hypothese selection == field selection \n");
        }
        if (edges >= 0 && edges != choice) {
            ++EdgeSelectionWrongCount;
            if (debug) platform::DebugOutput("Edges selection != old history slection  \n");
        }
        if (debug) {
            platform::DebugOutput("Use odd field from the selected frame  \n");
            platform::DebugOutput(platform::Format(
                " number of frames where field selection worked %d\n number of frames where edge selection was "
                "incorrect %d\n",
                FieldSelectionWorkedCount, EdgeSelectionWrongCount));
        }
        WeaveRows(out, frames[choice], choice, width, height, (mode & DEINTERLACE_MARKER) != 0);
    } else if (mode & DEINTERLACE_EDGE_DIRECTED) {
        EdgeDirectedDeinterlace(out, width, height);
    }
    return out;
}
