// The DVD pack engine of mux type 4: an MPEG-2 program stream in 2048-byte packs,
// cut into video object units that each begin with a navigation pack, split into
// video object files below 1 GiB, with a hints file per file for the volume writer.
#pragma once

#include "muxlib/DecoderBuffer.h"
#include "muxlib/DeliveryAudit.h"
#include "muxlib/DvdVolume.h"
#include "muxlib/MuxLib.h"
#include "muxlib/MuxPackEngine.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

// The largest video object file when option 13 asks for none smaller.
inline constexpr uint64_t DvdVobSplitBytes = 1022900000;
// No video object file of a DVD-Video title set may reach 1 GiB: inside a disc image a
// file of exactly 2^30 bytes is read one sector short. The largest is 16 packs below it.
inline constexpr uint64_t DvdVobMaxBytes = 1073709056;

// The largest video object file for option 13 (0 or less: DvdVobSplitBytes): at most
// DvdVobMaxBytes, in whole packs, at least one pack.
uint64_t DvdVobFileLimit(int32_t option);

class DvdMuxEngine : public MuxPackEngine {
public:
    static constexpr uint32_t PackBytes = 2048;

    explicit DvdMuxEngine(MuxSession& session);
    ~DvdMuxEngine() override;

    // The readers take the unit; the first sequence header also gives the picture attributes.
    int32_t FeedVideo(const uint8_t* data, uint32_t length);
    int32_t FeedAudio(const uint8_t* data, uint32_t length);
    // Writes every pack that can be written now; -500 unless option 10 is 1 or 2.
    int32_t Multiplex() override;
    // Drains both streams and records the last video object file.
    int32_t Finish() override;

    // Starts a new hints file (the one open is dropped when it holds nothing recorded).
    int32_t OpenDvdHintsFile();
    void CloseDvdHintsFile();

    void SetOutputFolder(const MuxDvdFolderDescriptor& descriptor);
    // A video object file made for this engine: removed with it unless a volume took it.
    void AdoptWorkFile(const std::string& path);
    bool HasOutputFolder() const { return haveFolder_; }
    const MuxDvdFolderDescriptor& OutputFolder() const { return folder_; }
    DvdVobTable& Vobs() { return vobs_; }
    const DvdVideoAttributes& Attributes() const { return attributes_; }
    // Called by MuxEnd once the sinks are closed; the split files are removed when it fails.
    int32_t WriteVolume();

    uint64_t BytesWritten() const { return bytesWritten_; }

private:
    int32_t Schedule(bool draining);
    int32_t SendVideo();
    int32_t SendAudio();
    int32_t WriteNavigationPack();
    int32_t WriteUnitPack(PesPacketRecord& record, bool video);
    int32_t WritePaddingPack();
    bool AdvanceClockToNextRemoval();
    int32_t WritePack(const uint8_t* pack);
    int32_t WriteHints(const uint8_t* bytes, size_t length);
    int32_t SplitFile();
    void FollowVideoTime(const PesPacketRecord& opening);
    int32_t CloseHintsStream();
    uint64_t Clock() const;
    uint64_t VideoCapacity() const;
    uint64_t AudioCapacity() const;
    uint32_t MuxRate() const;
    // The largest video object file (option 13, see DvdVobFileLimit).
    uint64_t SplitBytes() const;

    MuxDvdFolderDescriptor folder_;
    bool haveFolder_ = false;
    DvdVobTable vobs_;
    std::string vobPath_;     // the video object file being written
    std::string hintsPath_;   // its hints file
    std::FILE* hints_ = nullptr;
    std::vector<std::string> workFiles_;  // the video object files this engine made
    DvdVideoAttributes attributes_;
    bool attributesKnown_ = false;
    bool audioKnown_ = false;

    uint64_t baseBytes_ = 0;
    uint64_t baseClock_ = 0;
    uint64_t fileBytes_ = 0;  // written to the video object file being written
    uint32_t vobus_ = 0;
    bool haveVobuTime_ = false;
    uint64_t lastVobuTime_ = 0;
    bool firstVideoSent_ = false;
    bool firstAudioSent_ = false;
    bool audioExtensionDue_ = false;
    // Input buffers of the two streams in the decoder; 60 access units each are tracked.
    DecoderBuffer videoModel_{60};
    DecoderBuffer audioModel_{60};
    // What the decoder sees of each stream: a unit late or a buffer overflowing fails the title.
    DeliveryAudit videoAudit_, audioAudit_;
    uint64_t videoBytesSent_ = 0;
    uint64_t audioBytesSent_ = 0;
    uint64_t bytesWritten_ = 0;
    uint64_t picturesSent_ = 0;  // pictures that began in the video packets written
    bool finished_ = false;
};
