// Writers of the header layers of the video elementary stream: sequence
// header and extensions, group of pictures, picture header and coding
// extension, user data, slice header and sequence end. Each starts at a byte
// boundary and goes through the bit writer.
#pragma once

#include <cstdint>

void PutSequenceHeader();
void PutSequenceExtension();
void PutSequenceDisplayExtension();
// The time code counts from `firstPicture` plus the settings' time-code start.
void PutGopHeader(int firstPicture, int closed);
void PutPictureHeader();
void PutPictureCodingExtension();
// Nothing for a null pointer or a count below 1.
void PutUserData(const uint8_t* data, int count);
// `quantScale` is the engine's doubled scale (2..62).
void PutSliceHeader(int macroblockRow, int quantScale);
void PutSequenceEnd();

// SVCD I pictures carry 14 bytes of 0x01 as user data after their headers.
void PutPictureUserData();
