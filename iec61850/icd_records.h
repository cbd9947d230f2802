#pragma once

// The records that carry a unit's 61850 configuration between SCL files, the unit's registers
// and the editor. Plain values: texts empty and numbers zero unless stated.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kt {

inline constexpr int DataSetSlots = 32;
inline constexpr int UnitRCBs = 8;
inline constexpr int UnitGCBs = 2;
inline constexpr int UnitNIs = 16;
inline constexpr int Interfaces = 2;
inline constexpr int MaxEditorMembers = 30;

// Trigger option bits of TRCBConfig::TrgOps.
enum : uint16_t {
    TrgDchg = 0x02,
    TrgQchg = 0x04,
    TrgDupd = 0x08,
    TrgPeriod = 0x10,
    TrgGi = 0x20,
};

// Optional field bits of TRCBConfig::OptFields.
enum : uint16_t {
    OptSeqNum = 0x02,
    OptTimeStamp = 0x04,
    OptReasonCode = 0x08,
    OptDataSet = 0x10,
    OptDataRef = 0x20,
    OptBufOvfl = 0x40,
    OptEntryID = 0x80,
    OptConfigRef = 0x100,
};

struct TRCBConfig {
    uint16_t TrgOps = 0;
    uint16_t OptFields = 0;
    uint32_t ConfRev = 0;
    uint32_t BufTime = 0;
    uint32_t IntgPd = 0;
    uint8_t DataSetIndex = 0; // 0 none, k = dataset slot k-1
    std::string DataSetRef;
    bool Buffered = false;
    std::string RptID;
    std::string Name;

    bool operator==(const TRCBConfig&) const = default;
};

struct TDatasetConfig {
    bool Fixed = false;
    std::string Name; // node name "$" dataset name, e.g. LLN0$DS1_Measurement
    uint16_t LDIndex = 0;
    uint16_t Count = 0; // 0: the slot is free
    std::vector<uint32_t> Members;

    bool operator==(const TDatasetConfig&) const = default;
};

struct TGCBConfig {
    bool Enabled = false;
    bool Test = false;
    uint8_t Interface = 0; // 1, 2, or 3 for both
    uint16_t AppID = 0;
    uint64_t DstMAC = 0; // low 48 bits, first octet most significant
    uint8_t VLANPriority = 0;
    uint16_t VLANID = 0;
    std::string GoID;
    std::string Name;

    bool operator==(const TGCBConfig&) const = default;
};

struct TExtRefDesc {
    std::string IEDName;
    std::string Reserved1;
    std::string Reserved2;
    std::string LDInst;
    std::string Prefix;
    std::string LNClass;
    std::string LNInst;
    std::string DOName;
    std::string DAName;
    std::string GoCBRef;

    bool operator==(const TExtRefDesc&) const = default;
};

struct TExtRefAddr {
    uint16_t AppID = 0;
    uint64_t DstMAC = 0;
    uint32_t ConfRev = 0;
    uint16_t DataIndex = 0;
    std::string GoID;

    bool operator==(const TExtRefAddr&) const = default;
};

struct TNIConfig {
    bool Enabled = false;
    bool Inverted = false;
    uint16_t AppID = 0;
    uint64_t DstMAC = 0;
    uint32_t ConfRev = 0;
    uint16_t DataIndex = 0;
    uint16_t BitIndex = 0;
    std::string GoID;
    std::string Name;
    TExtRefDesc Source;

    bool operator==(const TNIConfig&) const = default;
};

struct TExtRefConfig {
    TExtRefDesc Desc;
    TExtRefAddr Addr;

    bool operator==(const TExtRefConfig&) const = default;
};

struct TAddressOpts {
    std::string APTitle; // dotted object identifier
    int32_t AEQualifier = 12;
    uint32_t PSEL = 0;
    uint16_t SSEL = 0;
    uint16_t TSEL = 0;

    bool operator==(const TAddressOpts&) const = default;
};

// The unit's 61850 configuration as read from or written to its registers.
struct Struct61850Settings {
    std::string IP1;
    std::string Mask1;
    std::string Gateway1;
    std::string IP2;
    std::string Mask2;
    std::string Gateway2;
    std::string TimeServerIPText;
    uint32_t TimeServerIP = 0;
    std::string IEDName;
    uint32_t KeepAlive = 0;
    int32_t CheckUpperAddresses = 0;
    std::string APTitle;
    int32_t AEQualifier = 0;
    uint32_t PSEL = 0;
    int32_t SSEL = 0;
    int32_t TSEL = 0;
    std::array<TRCBConfig, UnitRCBs> RCB{};
    int32_t RCBCount = 0;
    std::array<TDatasetConfig, DataSetSlots> DataSet{};
    std::array<TGCBConfig, UnitGCBs> GCB{};
    std::array<TNIConfig, UnitNIs> NI{};

    bool operator==(const Struct61850Settings&) const = default;
};

} // namespace kt
