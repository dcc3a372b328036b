// Edge-based field selection of film mode: strong edges of the kept field
// predict where the edges of the missing rows must lie; the frame whose odd
// rows put them there holds the matching field.
#include <cstdlib>

#include "engine/Deinterlace.h"
#include "platform/Format.h"
#include "platform/System.h"

namespace {

// Looks within -8..+7 pixels of `centre` for the change over two pixels
// beyond `threshold` in its direction; a hit skips the pixel after it. True
// when there is exactly one, its byte offset in *offset.
bool FindSingleEdge(const uint8_t* centre, int threshold, int* offset) {
    int hits = 0;
    for (int o = -24; o <= 21; o += 3) {
        const int change = centre[o + 3] - centre[o - 3];
        if (threshold > 0 ? change > threshold : change < threshold) {
            ++hits;
            *offset = o;
            o += 3;
        }
    }
    return hits == 1;
}

bool NearPrediction(int outer, int here, int found) {
    const int sum = outer + here;
    return std::abs(sum / 2 - found) <= std::abs(sum / 4) + 3;
}

}  // namespace

int DetectEdgeLine(const uint8_t* frame, ptrdiff_t position, size_t lineLength, int threshold, int offsetAbove,
                   int offsetHere, int offsetBelow) {
    const ptrdiff_t line = static_cast<ptrdiff_t>(lineLength);
    int above = 0, below = 0;
    if (!FindSingleEdge(frame + position - line, threshold, &above)) return 0;
    if (!FindSingleEdge(frame + position + line, threshold, &below)) return 0;
    return NearPrediction(offsetAbove, offsetHere, above) && NearPrediction(offsetBelow, offsetHere, below) ? 1 : 0;
}

int SelectFieldByEdges(const uint8_t* current, const uint8_t* previous, const uint8_t* next, int width,
                       int height) {
    const ptrdiff_t line = static_cast<ptrdiff_t>(BitmapRowBytes(width));
    int c = 0, p = 0, n = 0, e = 0;
    if (current && height > 8) {
        const int rows = (height + 7) >> 4;
        for (int i = 0; i < rows; ++i) {
            const int row = 8 + 16 * i;
            // The search looks two rows either side of the scanned row.
            if (row + 2 >= height) break;
            const uint8_t* here = current + row * line;
            for (int x = 16; x <= width - 17;) {
                const int blue = here[3 * (x + 1)] - here[3 * x];
                const int green = here[3 * (x + 1) + 1] - here[3 * x + 1];
                int channel, step;
                if (std::abs(blue) > 50) {
                    channel = 0;
                    step = blue;
                } else if (std::abs(green) > 50) {
                    channel = 1;
                    step = green;
                } else {
                    ++x;
                    continue;
                }
                const int threshold = 7 * step / 8;
                const ptrdiff_t centre = 3 * (x + 2) + channel;
                int oHere = 0, oAbove = 0, oBelow = 0;
                if (!FindSingleEdge(here + centre, threshold, &oHere) ||
                    !FindSingleEdge(here - 2 * line + centre, threshold, &oAbove) ||
                    !FindSingleEdge(here + 2 * line + centre, threshold, &oBelow)) {
                    ++x;
                    continue;
                }
                const ptrdiff_t position = row * line + centre;
                c += DetectEdgeLine(current, position, line, threshold, oAbove, oHere, oBelow);
                if (previous) p += DetectEdgeLine(previous, position, line, threshold, oAbove, oHere, oBelow);
                if (next) n += DetectEdgeLine(next, position, line, threshold, oAbove, oHere, oBelow);
                ++e;
                x += 9;
            }
        }
    }
    if (platform::DebugOutputEnabled())
        platform::DebugOutput(platform::Format(
            "-|- edge selection counters: cur %d   prev %d   next %d   edges %d\n", c, p, n, e));

    int most = c, least = c;
    if (p > most) most = p;
    if (n > most) most = n;
    if (p < least) least = p;
    if (n < least) least = n;
    if (most > (3 * least) / 2 && most >= e / 5 && e > 8) {
        const int clear = (3 * most) / 4;
        if (most == c && clear > p && clear > n) return FIELD_CURRENT;
        if (most == p && clear > c && clear > n) return FIELD_PREVIOUS;
        if (most == n && clear > c && clear > p) return FIELD_NEXT;
        if ((most == c || most == n) && c - p > 3 * std::abs(c - n) && n - p > 3 * std::abs(c - n))
            return FIELD_CURRENT;
    }
    return most < e / 4 && e > 30 ? EDGE_NO_FIELD_USABLE : EDGE_NO_RELIABLE_SELECTION;
}
