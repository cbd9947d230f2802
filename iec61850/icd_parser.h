#pragma once

// TICDParser: one SCL document (an ICD template or an operator's ICD/CID file) together with
// the unit's 61850 configuration read from it. The reader is the constructor, the writer is
// SaveICD, and the data-type walker turns dataset members into the unit's member codes.

#include "iec61850/attribute_tree.h"
#include "iec61850/icd_records.h"
#include "iec61850/iec61850_errors.h"
#include "iec61850/operator_prompts.h"
#include "iec61850/text_conversions.h"

#include <pugixml.hpp>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kt {

class TypeIndex;

// The five parts of a dataset member reference.
struct MemberRef {
    std::string ldInst;
    std::string lnRef; // prefix + lnClass + inst, "LLN0" for LN0
    std::string doName;
    std::string daName;
    std::string fc;

    bool operator==(const MemberRef&) const = default;
};

// "LD/LN.DO[.DA] (FC)", the form member texts take.
std::string MemberRefText(const MemberRef& ref);

// Why a reference has no member code in a data model.
enum class MemberProblem : uint8_t {
    None,
    NoLogicalDevice, // no LDevice with that inst in the model's server
    NoLogicalNode,   // no LN (or LN0 for "LLN0") of that name in the logical device
    NotUnitFC,       // the unit's datasets hold MX and ST members only
    NoDataObject,    // no data object (or sub-object) of that name holding that FC
    NoAttribute,     // no attribute of that name and FC
    TooDeep,         // more than four elements below the data object
    DoesNotFit,      // a position too large for its field of the code
    SharedCode,      // another reference of the model has the same code
};

// A reference's member code, or why it has none ("not in this data model").
struct MemberEncoding {
    std::optional<uint32_t> code;
    MemberProblem problem = MemberProblem::None;
    std::string reason; // in words, for the operator: "logical node GGIO45 is at position 70; ..."
};

// A dataset member of an SCL file that has no code in the model, with the reason.
struct LeftOutMember {
    int position = 0;      // of the FCDA among the dataset's members, from 1
    std::string reference; // MemberRefText of the FCDA
    std::string reason;
};

struct LNRefParts {
    std::string prefix;
    std::string lnClass;
    std::string lnInst;

    bool operator==(const LNRefParts&) const = default;
};

// Captions of the two choices the reader may ask for.
inline constexpr std::string_view IEDSelectionCaption = "Select IED to be used for configuration";
inline constexpr std::string_view TimeServerSelectionCaption = "Select IED to be used as a time server";

// The fixed datasets every unit carries.
inline constexpr std::array<std::string_view, 3> FixedDataSetNames = {"DS1_Measurement", "DS2_Record",
                                                                      "DS3_GOOSE"};

class TICDParser {
public:
    // Loads `fileName` and reads the model from it. `ln0Position` is where the first LDevice of
    // each access point gets its LN0 (counting element children), or -1 to leave the document
    // as loaded. Choices between IEDs go to `prompts` (none: the first entry is taken).
    // Throws SclError when the file cannot be read, is not well-formed or is not SCL.
    TICDParser(const std::string& fileName, int ln0Position, OperatorPrompts* prompts = nullptr);
    TICDParser(TICDParser&&) noexcept;
    TICDParser& operator=(TICDParser&&) noexcept;
    ~TICDParser();
    void swap(TICDParser& other) noexcept;

    // ---- model ----------------------------------------------------------------------------
    uint32_t TimeServerIP = 0; // 0: none
    TAddressOpts AddressOpts;
    bool TwoAccessPoints = true;
    uint16_t FirstUserDataSet = 0;
    std::string Model; // written to the LPHD name plate
    std::string SwRev;
    std::string SerNum;

    const std::string& IEDName() const { return iedName_; }
    // Letters, digits, "_" and spaces only; renames the model's IED in the document at once.
    void SetIEDName(const std::string& name);

    TDatasetConfig GetDataSet(int slot) const;
    void SetDataSet(int slot, const TDatasetConfig& ds);
    uint32_t GetIPAddress(int i) const;
    void SetIPAddress(int i, uint32_t v);
    uint32_t GetIPMask(int i) const;
    void SetIPMask(int i, uint32_t v);
    uint32_t GetGateway(int i) const;
    void SetGateway(int i, uint32_t v);

    int RCBCount() const { return static_cast<int>(rcbs_.size()); }
    int GCBCount() const { return static_cast<int>(gcbs_.size()); }
    int NICount() const { return static_cast<int>(nis_.size()); }
    int ExtRefCount() const { return static_cast<int>(extRefs_.size()); }
    TRCBConfig GetRCB(int i) const;
    void SetRCB(int i, const TRCBConfig& rcb); // keeps Buffered and Name
    TGCBConfig GetGCB(int i) const;
    void SetGCB(int i, const TGCBConfig& gcb); // keeps Name
    TNIConfig GetNI(int i) const;
    void SetNI(int i, const TNIConfig& ni); // keeps Name
    TExtRefConfig GetExtRef(int i) const;
    void SetExtRef(int i, const TExtRefConfig& ext);

    // "LD inst/Name" of a used slot; "" for a free slot or an index outside 0..31.
    std::string DataSetFullName(int slot) const;
    // Lowest used slot with that full name, or -1.
    int FindDataSet(std::string_view fullName) const;
    // inst of the k-th LDevice of the model's server, "" when there are fewer.
    std::string LDInstByIndex(int k) const;
    std::optional<TRCBConfig> FindRCB(std::string_view name) const;
    std::optional<TGCBConfig> FindGCB(std::string_view name) const;
    std::optional<TNIConfig> FindNI(std::string_view name) const;
    // Frees a slot and closes the gap. Report control blocks on it lose their dataset after
    // the operator agrees (`prompts`; none: the answer is No).
    bool DeleteDataSet(int slot, OperatorPrompts* prompts = nullptr);

    // ---- reader ---------------------------------------------------------------------------
    // What the last read (construction, or ImportFile) left out or could not take as it stood,
    // one sentence each: dataset members not in the data model, report controls outside LLN0,
    // logical devices outside a Server, addresses it cannot place or read, other IEDs of the file.
    std::vector<std::string> Warnings() const;
    // The members of a slot's dataset in the file that are not in the data model (left out of
    // `Members`); empty for slots that did not come from a file.
    const std::vector<LeftOutMember>& LeftOutMembers(int slot) const;

    // Element position of the first LN0 in the first LDevice of the model's server, or -1.
    int LN0Position() const;
    // Merges another ICD/CID file into this model ("Load from CID/ICD File"); the document
    // stays the template. Throws (changing nothing) when the file cannot be read or its IED
    // name is refused.
    void ImportFile(const std::string& fileName, OperatorPrompts* prompts = nullptr);

    // ---- data-type walker -----------------------------------------------------------------
    // First "LNodeType", "DOType" or "DAType" of the DataTypeTemplates with that id.
    pugi::xml_node FindType(std::string_view id, std::string_view tag) const;
    // FCs under a DO or SDO, in document order, repetitions kept.
    std::vector<std::string> FCListOf(pugi::xml_node element) const;
    bool HasFC(pugi::xml_node element, std::string_view fc) const;
    std::optional<size_t> FCIndex(pugi::xml_node lnodeType, std::string_view fc) const;
    std::optional<std::string> FCByIndex(pugi::xml_node lnodeType, size_t index) const;
    // The member code of a reference. A reference has one only when every position fits its
    // field, no other reference of the model shares the code, and decoding the code gives back
    // exactly this reference; otherwise it is "not in this data model" and `reason` says why.
    MemberEncoding EncodeMemberChecked(const MemberRef& ref) const;
    std::optional<uint32_t> EncodeMember(const MemberRef& ref) const { return EncodeMemberChecked(ref).code; }
    std::optional<uint32_t> EncodeMember(std::string_view ldInst, std::string_view lnRef,
                                         std::string_view doName, std::string_view daName,
                                         std::string_view fc) const {
        return EncodeMember(MemberRef{std::string(ldInst), std::string(lnRef), std::string(doName),
                                      std::string(daName), std::string(fc)});
    }
    // The reference of a code; nothing unless the code is exactly what EncodeMember gives for
    // that reference (so a code from the unit or another model is never shown as an object it
    // does not stand for).
    std::optional<MemberRef> DecodeMember(uint32_t code) const;
    // "LD/LN.DO[.DA] (FC)", or "" when the code does not decode.
    std::string MemberText(uint32_t code) const;
    static LNRefParts SplitLNRef(std::string_view lnRef);
    AttributeTree BuildAttributeTree(const std::string& rootCaption) const;

    // ---- writer ---------------------------------------------------------------------------
    // Writes the model into a copy of the template and saves it as `fileName` (through a
    // temporary file, so a failed save leaves any earlier file whole). The parser's document
    // stays the template. Throws SclError when a value has no valid SCL form or the file
    // cannot be written.
    void SaveICD(const std::string& fileName);

    // ---- support --------------------------------------------------------------------------
    const std::string& FileName() const { return fileName_; }
    const pugi::xml_document& Document() const { return *doc_; }
    std::vector<std::string> IEDNames() const; // name of every IED of the document
    // The document's LPHD name plate value PhyNam.<attribute> ("model", "serNum", "swRev").
    std::string PhyNamValue(std::string_view attribute) const;
    // The walker answers from an index of the type templates; off, it walks the DOM for every
    // question. Both give the same results.
    void SetTypeIndexEnabled(bool on) { useIndex_ = on; }

private:
    // Paths of the document.
    pugi::xml_node root() const;
    pugi::xml_node modelIED() const;
    pugi::xml_node modelServer() const;
    pugi::xml_node modelConnectedAP(pugi::xml_node subNetwork) const;
    pugi::xml_node gseAddress(std::string_view iedName, std::string_view cbName) const;
    pugi::xml_node gseAddressIn(pugi::xml_node docRoot, std::string_view iedName,
                                std::string_view cbName) const;
    TypeIndex& index() const;
    void renameIED(pugi::xml_node docRoot, const std::string& oldName, const std::string& newName) const;

    // Reader steps, in the constructor's order.
    void moveLN0(int ln0Position);
    void selectIED(OperatorPrompts& prompts);
    void selectTimeServer(OperatorPrompts& prompts);
    void readCommunication();
    void readDataSets();
    void readReportControls();
    void readGOOSEControls();
    void readNetworkInputs();
    void readExtRefs();
    void warnAboutLeftOutParts();
    void readGseAddress(pugi::xml_node address, const std::string& where, uint16_t* appID, uint64_t* mac,
                        uint16_t* vlanID, uint8_t* vlanPriority);
    // One dataset of the file with its members as references, for the reader and the import.
    struct FileDataSet {
        uint16_t ldIndex = 0;
        std::string ldInst;
        std::string name; // node name "$" dataset name
        bool fixed = false;
        std::vector<MemberRef> members;
    };
    std::vector<FileDataSet> fileDataSets() const;
    // `aboutDataSets`: a warning about the file's datasets in this model, which an import
    // replaces by its own.
    void warn(std::string text, bool aboutDataSets = false);

    // Walker pieces.
    MemberEncoding encodeRaw(const MemberRef& ref) const;
    std::optional<MemberRef> decodeRaw(uint32_t code) const;
    std::vector<std::string> fcListPlain(pugi::xml_node doType, int depth,
                                         std::vector<pugi::xml_node>& path) const;
    std::vector<std::string> lnodeTypeFCsPlain(pugi::xml_node lnodeType) const;
    pugi::xml_node findTypePlain(std::string_view id, std::string_view tag) const;
    bool typeHasFC(pugi::xml_node doType, std::string_view fc) const;

    // Writer steps, applied to the copy being written.
    void checkWritable() const;
    void writeReportControls(pugi::xml_node docRoot, std::vector<pugi::xml_node>& written) const;
    void writeDataSets(pugi::xml_node docRoot) const;
    void writeNamePlates(pugi::xml_node docRoot) const;
    void writeGOOSEControls(pugi::xml_node docRoot) const;
    void writeExtRefs(pugi::xml_node docRoot) const;
    void writeLN0First(pugi::xml_node docRoot) const;
    void writeSecondAccessPoint(pugi::xml_node docRoot) const;
    void writeCommunication(pugi::xml_node docRoot) const;

    std::string fileName_;
    std::unique_ptr<pugi::xml_document> doc_;
    mutable std::unique_ptr<TypeIndex> index_;
    bool useIndex_ = true;

    std::string iedName_;
    std::array<uint32_t, Interfaces> ipAddress_{};
    std::array<uint32_t, Interfaces> ipMask_{};
    std::array<uint32_t, Interfaces> gateway_{};
    std::vector<TRCBConfig> rcbs_;
    std::vector<TGCBConfig> gcbs_;
    std::vector<TNIConfig> nis_;
    std::vector<TExtRefConfig> extRefs_;
    std::array<TDatasetConfig, DataSetSlots> dataSets_{};
    std::array<std::vector<LeftOutMember>, DataSetSlots> leftOut_{};
    struct Warning {
        std::string text;
        bool aboutDataSets = false;
    };
    std::vector<Warning> warnings_;
};

} // namespace kt
