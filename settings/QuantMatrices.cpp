// Quantiser matrices: the built-in ones and matrices read from the files the
// settings name.
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/Format.h"
#include "settings/EncoderSettings.h"
#include "settings/ProfileFormat.h"
#include "settings/Report.h"

using profileformat::FileCloser;

namespace {

// The default intra matrix of MPEG-2, raster order.
constexpr std::array<int, 64> kDefaultIntraMatrix = {
    8,  16, 19, 22, 26, 27, 29, 34,  //
    16, 16, 22, 24, 27, 29, 34, 37,  //
    19, 22, 26, 27, 29, 34, 34, 38,  //
    22, 22, 26, 27, 29, 34, 37, 40,  //
    22, 26, 27, 29, 32, 35, 40, 48,  //
    26, 27, 29, 32, 35, 40, 48, 58,  //
    26, 27, 29, 34, 38, 46, 56, 69,  //
    27, 29, 35, 38, 46, 56, 69, 83,
};

std::array<int, 64> FlatMatrix(int value) {
    std::array<int, 64> m;
    m.fill(value);
    return m;
}

// Reads the next whitespace-separated token as a decimal number; false at the
// end of the file or when the token is not a number.
bool ReadMatrixNumber(FILE* file, long& value) {
    int c;
    do {
        c = std::getc(file);
    } while (c != EOF && std::isspace(c));
    if (c == EOF) return false;
    std::string token;
    while (c != EOF && !std::isspace(c)) {
        if (token.size() < 32) token += static_cast<char>(c);
        c = std::getc(file);
    }
    char* end = nullptr;
    errno = 0;
    value = std::strtol(token.c_str(), &end, 10);
    return errno == 0 && end != token.c_str() && *end == '\0';
}

// One matrix from its file, or the built-in one for "-". A matrix that
// cannot be read whole is not used: the built-in one takes its place.
bool LoadQuantMatrix(const std::string& fileName, std::array<int, 64>& matrix, int& loaded,
                     const std::array<int, 64>& builtIn) {
    loaded = 0;
    if (fileName == "-") {
        matrix = builtIn;
        return true;
    }
    FILE* file = std::fopen(fileName.c_str(), "r");
    if (!file) {
        ShowWarningMessage(platform::Format("Couldn't open quant matrix file %s", fileName.c_str()));
        matrix = builtIn;
        return false;
    }
    FileCloser closer{file};
    platform::CLocaleScope cLocale;
    std::array<int, 64> read;
    for (int& entry : read) {
        long v = 0;
        if (!ReadMatrixNumber(file, v) || v < 1 || v > 255) {
            ShowWarningMessage("invalid value in quant matrix");
            matrix = builtIn;
            return false;
        }
        entry = static_cast<int>(v);
    }
    matrix = read;
    loaded = 1;
    return true;
}

}  // namespace

int LoadQuantMatrices() {
    EncoderSettingsRecord& s = EncoderSettings;
    bool intra = LoadQuantMatrix(s.intraMatrixFileName, s.intraQuantMatrix, s.loadIntraMatrix, kDefaultIntraMatrix);
    bool nonIntra =
        LoadQuantMatrix(s.nonIntraMatrixFileName, s.nonIntraQuantMatrix, s.loadNonIntraMatrix, FlatMatrix(16));
    return intra && nonIntra ? 1 : 0;
}
