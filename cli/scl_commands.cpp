// scl-info / scl-import: the IEC 61850 SCL reader and writer for scripts and support;
// iec61850-read / iec61850-write: the unit's 61850 configuration to and from files, the same
// transfers as the IEC 61850 page's buttons.
#include "cli/cli.h"
#include "cli/json.h"
#include "cli/session.h"

#include "iec61850/icd_parser.h"
#include "iec61850/name_plate.h"
#include "iec61850/settings_transfer.h"
#include "monitor/device_rules.h"

#include <filesystem>
#include <iostream>
#include <thread>

namespace kt::cli {

namespace {

constexpr std::string_view NotInModelText = "(not in this data model)";

// Answers the IED choice by name (--ied), everything else as a script would: the first entry.
class NamedIedChoice : public OperatorPrompts {
public:
    explicit NamedIedChoice(std::optional<std::string> name) : name_(std::move(name)) {}

    std::optional<size_t> chooseEntry(std::string_view caption,
                                      const std::vector<std::string>& entries) override {
        if (caption != IEDSelectionCaption || !name_) return 0;
        for (size_t i = 0; i < entries.size(); ++i)
            if (entries[i].substr(0, entries[i].find(' ')) == *name_) return i;
        return std::nullopt;
    }
    bool confirm(std::string_view) override { return false; }

private:
    std::optional<std::string> name_;
};

// Reads `file` as the program does; with --ied, refuses a file that has no IED of that name.
TICDParser readFile(const std::string& file, int ln0Position, const std::optional<std::string>& ied) {
    NamedIedChoice choice(ied);
    TICDParser parser(file, ln0Position, &choice);
    if (ied && parser.IEDName() != *ied) {
        std::string list;
        for (const std::string& name : parser.IEDNames()) list += (list.empty() ? "" : ", ") + name;
        throw std::runtime_error("no IED named " + *ied + " in " + file +
                                 " (IEDs: " + (list.empty() ? "none" : list) + ")");
    }
    return parser;
}

// A member as the operator sees it: never the text of another object.
std::string memberText(const TICDParser& p, uint32_t code) {
    std::string text = p.MemberText(code);
    return text.empty() ? std::string(NotInModelText) : text;
}

void writeWarnings(std::ostream& os, const std::vector<std::string>& warnings) {
    for (const std::string& w : warnings) os << "warning: " << w << '\n';
}

void writeDesc(JsonWriter& j, const TExtRefDesc& d) {
    j.beginObject()
        .field("IEDName", d.IEDName)
        .field("Reserved1", d.Reserved1)
        .field("Reserved2", d.Reserved2)
        .field("LDInst", d.LDInst)
        .field("Prefix", d.Prefix)
        .field("LNClass", d.LNClass)
        .field("LNInst", d.LNInst)
        .field("DOName", d.DOName)
        .field("DAName", d.DAName)
        .field("GoCBRef", d.GoCBRef)
        .endObject();
}

void writeJson(std::ostream& os, const TICDParser& p) {
    JsonWriter j(os);
    auto addresses = [&](const char* name, uint32_t (TICDParser::*get)(int) const) {
        j.key(name).beginArray();
        for (int i = 0; i < Interfaces; ++i) j.value(IPToText((p.*get)(i)));
        j.endArray();
    };
    j.beginObject().field("IEDName", p.IEDName());
    addresses("IPAddress", &TICDParser::GetIPAddress);
    addresses("IPMask", &TICDParser::GetIPMask);
    addresses("Gateway", &TICDParser::GetGateway);
    j.field("TimeServerIP", IPToText(p.TimeServerIP));
    j.key("AddressOpts")
        .beginObject()
        .field("APTitle", p.AddressOpts.APTitle)
        .field("AEQualifier", p.AddressOpts.AEQualifier)
        .field("PSEL", p.AddressOpts.PSEL)
        .field("SSEL", unsigned(p.AddressOpts.SSEL))
        .field("TSEL", unsigned(p.AddressOpts.TSEL))
        .endObject();
    j.field("FirstUserDataSet", unsigned(p.FirstUserDataSet)).field("TwoAccessPoints", p.TwoAccessPoints);
    j.field("Model", p.Model).field("SwRev", p.SwRev).field("SerNum", p.SerNum);

    j.key("DataSets").beginArray();
    for (int i = 0; i < DataSetSlots; ++i) {
        TDatasetConfig ds = p.GetDataSet(i);
        j.beginObject()
            .field("Fixed", ds.Fixed)
            .field("Name", ds.Name)
            .field("LDIndex", unsigned(ds.LDIndex))
            .field("Count", unsigned(ds.Count))
            .key("Members")
            .beginArray();
        for (uint32_t m : ds.Members) j.value(m);
        j.endArray().field("FullName", p.DataSetFullName(i)).key("MemberTexts").beginArray();
        for (uint32_t m : ds.Members) j.value(memberText(p, m));
        j.endArray().key("LeftOutMembers").beginArray();
        for (const LeftOutMember& l : p.LeftOutMembers(i))
            j.beginObject()
                .field("Position", l.position)
                .field("Reference", l.reference)
                .field("Reason", l.reason)
                .endObject();
        j.endArray().endObject();
    }
    j.endArray();

    j.key("RCBs").beginArray();
    for (int i = 0; i < p.RCBCount(); ++i) {
        TRCBConfig b = p.GetRCB(i);
        j.beginObject()
            .field("TrgOps", unsigned(b.TrgOps))
            .field("OptFields", unsigned(b.OptFields))
            .field("ConfRev", b.ConfRev)
            .field("BufTime", b.BufTime)
            .field("IntgPd", b.IntgPd)
            .field("DataSetIndex", unsigned(b.DataSetIndex))
            .field("DataSetRef", b.DataSetRef)
            .field("Buffered", b.Buffered)
            .field("RptID", b.RptID)
            .field("Name", b.Name)
            .endObject();
    }
    j.endArray();

    j.key("GCBs").beginArray();
    for (int i = 0; i < p.GCBCount(); ++i) {
        TGCBConfig b = p.GetGCB(i);
        j.beginObject()
            .field("Enabled", b.Enabled)
            .field("Test", b.Test)
            .field("Interface", unsigned(b.Interface))
            .field("AppID", unsigned(b.AppID))
            .field("DstMAC", MACToText(b.DstMAC))
            .field("VLANPriority", unsigned(b.VLANPriority))
            .field("VLANID", unsigned(b.VLANID))
            .field("GoID", b.GoID)
            .field("Name", b.Name)
            .endObject();
    }
    j.endArray();

    j.key("NIs").beginArray();
    for (int i = 0; i < p.NICount(); ++i) {
        TNIConfig n = p.GetNI(i);
        j.beginObject()
            .field("Enabled", n.Enabled)
            .field("Inverted", n.Inverted)
            .field("AppID", unsigned(n.AppID))
            .field("DstMAC", MACToText(n.DstMAC))
            .field("ConfRev", n.ConfRev)
            .field("DataIndex", unsigned(n.DataIndex))
            .field("BitIndex", unsigned(n.BitIndex))
            .field("GoID", n.GoID)
            .field("Name", n.Name)
            .key("Source");
        writeDesc(j, n.Source);
        j.endObject();
    }
    j.endArray();

    j.key("ExtRefs").beginArray();
    for (int i = 0; i < p.ExtRefCount(); ++i) {
        TExtRefConfig e = p.GetExtRef(i);
        j.beginObject().key("Desc");
        writeDesc(j, e.Desc);
        j.key("Addr")
            .beginObject()
            .field("AppID", unsigned(e.Addr.AppID))
            .field("DstMAC", MACToText(e.Addr.DstMAC))
            .field("ConfRev", e.Addr.ConfRev)
            .field("DataIndex", unsigned(e.Addr.DataIndex))
            .field("GoID", e.Addr.GoID)
            .endObject()
            .endObject();
    }
    j.endArray();
    j.key("Warnings").beginArray();
    for (const std::string& w : p.Warnings()) j.value(w);
    j.endArray().endObject();
    os << '\n';
}

std::string trgOpsText(uint16_t v) {
    static constexpr std::pair<uint16_t, const char*> names[] = {
        {TrgDchg, "dchg"}, {TrgQchg, "qchg"}, {TrgDupd, "dupd"}, {TrgPeriod, "period"}, {TrgGi, "gi"}};
    std::string out;
    for (auto [bit, name] : names)
        if (v & bit) out += (out.empty() ? "" : " ") + std::string(name);
    return out.empty() ? "-" : out;
}

void writeSummary(std::ostream& os, const TICDParser& p) {
    os << "IED " << (p.IEDName().empty() ? "(none)" : p.IEDName()) << '\n';
    for (int i = 0; i < Interfaces; ++i)
        os << "  interface " << i + 1 << ": IP " << IPToText(p.GetIPAddress(i)) << "  mask "
           << IPToText(p.GetIPMask(i)) << "  gateway " << IPToText(p.GetGateway(i)) << '\n';
    os << "  time server " << (p.TimeServerIP ? IPToText(p.TimeServerIP) : std::string("none")) << '\n';
    os << "  OSI: AP title " << (p.AddressOpts.APTitle.empty() ? "-" : p.AddressOpts.APTitle)
       << ", AE qualifier " << p.AddressOpts.AEQualifier << ", PSEL " << ToHex(p.AddressOpts.PSEL, 8)
       << ", SSEL " << ToHex(p.AddressOpts.SSEL, 4) << ", TSEL " << ToHex(p.AddressOpts.TSEL, 4) << '\n';
    os << "Datasets (user datasets from slot " << p.FirstUserDataSet << "):\n";
    for (int i = 0; i < DataSetSlots; ++i) {
        TDatasetConfig ds = p.GetDataSet(i);
        if (ds.Count == 0) continue;
        os << "  " << i << ": " << p.DataSetFullName(i) << (ds.Fixed ? " (fixed)" : "") << ", " << ds.Count
           << " members\n";
        for (uint32_t m : ds.Members) os << "      0x" << ToHex(m, 8) << "  " << memberText(p, m) << '\n';
        for (const LeftOutMember& l : p.LeftOutMembers(i))
            os << "      member " << l.position << " " << NotInModelText << ": " << l.reference << " ("
               << l.reason << ")\n";
    }
    os << "Report control blocks:\n";
    for (int i = 0; i < p.RCBCount(); ++i) {
        TRCBConfig b = p.GetRCB(i);
        os << "  " << b.Name << (b.Buffered ? " buffered" : " unbuffered") << ", dataset "
           << (b.DataSetIndex ? p.DataSetFullName(b.DataSetIndex - 1) : std::string("none")) << ", report ID "
           << b.RptID << ", conf rev " << b.ConfRev << ", buffer time " << b.BufTime
           << " ms, integrity period " << b.IntgPd << " ms, triggers " << trgOpsText(b.TrgOps)
           << ", options 0x" << ToHex(b.OptFields, 3) << '\n';
    }
    os << "GOOSE control blocks:\n";
    for (int i = 0; i < p.GCBCount(); ++i) {
        TGCBConfig b = p.GetGCB(i);
        os << "  " << b.Name << ": GOOSE ID " << b.GoID << ", APPID " << ToHex(b.AppID, 4) << ", MAC "
           << MACToText(b.DstMAC) << ", VLAN " << ToHex(b.VLANID, 3) << " priority "
           << unsigned(b.VLANPriority) << ", interface " << unsigned(b.Interface) << '\n';
    }
    os << "Network inputs:\n";
    for (int i = 0; i < p.NICount(); ++i) {
        TNIConfig n = p.GetNI(i);
        os << "  " << n.Name << ": GOOSE ID " << n.GoID << ", APPID " << ToHex(n.AppID, 4) << ", MAC "
           << MACToText(n.DstMAC) << ", conf rev " << n.ConfRev << ", data index " << n.DataIndex << ", bit "
           << n.BitIndex << (n.Enabled ? ", enabled" : ", disabled") << (n.Inverted ? ", inverted" : "");
        const TExtRefDesc& s = n.Source;
        if (!s.IEDName.empty() || !s.DOName.empty())
            os << ", source " << s.IEDName << s.LDInst << "/" << s.Prefix << s.LNClass << s.LNInst << "."
               << s.DOName << (s.DAName.empty() ? "" : "." + s.DAName);
        os << '\n';
    }
    os << "Subscribable attributes of other IEDs: " << p.ExtRefCount() << '\n';
    for (int i = 0; i < p.ExtRefCount(); ++i) {
        TExtRefConfig e = p.GetExtRef(i);
        os << "  " << e.Desc.IEDName << e.Desc.LDInst << "/" << e.Desc.Prefix << e.Desc.LNClass
           << e.Desc.LNInst << "." << e.Desc.DOName << (e.Desc.DAName.empty() ? "" : "." + e.Desc.DAName)
           << " sent by " << e.Desc.GoCBRef << " (APPID " << ToHex(e.Addr.AppID, 4) << ", index "
           << e.Addr.DataIndex << ")\n";
    }
    if (!p.Warnings().empty()) {
        os << "Left out or not read as written (" << p.Warnings().size() << "):\n";
        for (const std::string& w : p.Warnings()) os << "  " << w << '\n';
    }
}

int sclInfo(std::span<const std::string> words) {
    Args args(words, {"--ied"}, {"--json"});
    args.expectPositional(1);
    TICDParser parser = readFile(args.positional()[0], -1, args.value("--ied"));
    if (args.flag("--json"))
        writeJson(std::cout, parser);
    else
        writeSummary(std::cout, parser);
    return ExitOk;
}

int sclImport(std::span<const std::string> words) {
    Args args(words, {"--ied", "--model", "--swrev", "--sernum"}, {"--one-ap"});
    args.expectPositional(3);
    const auto& pos = args.positional();
    TICDParser parser(pos[0], -1);
    std::optional<std::string> ied = args.value("--ied");
    // The import quietly keeps the template for a file without an IED; a script should hear it.
    if (TICDParser(pos[1], -1).IEDNames().empty())
        throw std::runtime_error(pos[1] + " holds no IED to import");
    NamedIedChoice choice(ied);
    parser.ImportFile(pos[1], &choice);
    if (ied && parser.IEDName() != *ied) throw std::runtime_error("no IED named " + *ied + " in " + pos[1]);
    // What did not come over is the operator's to know before the file is used.
    writeWarnings(std::cerr, parser.Warnings());
    // The name plate keeps the template's texts unless told otherwise.
    parser.Model = args.value("--model").value_or(parser.PhyNamValue("model"));
    parser.SwRev = args.value("--swrev").value_or(parser.PhyNamValue("swRev"));
    parser.SerNum = args.value("--sernum").value_or(parser.PhyNamValue("serNum"));
    if (args.flag("--one-ap")) parser.TwoAccessPoints = false;
    parser.SaveICD(pos[2]);
    return ExitOk;
}

// ---- the unit's 61850 configuration ------------------------------------------------------------

using namespace std::chrono_literals;

// A connected unit with the IEC 61850 option, and its first pass (the interfaces' addresses, the
// time server and the name plate come from it, as in the window).
UnitIdentification connect61850(Session& session) {
    const UnitIdentification id = session.identify();
    if (!isIec61850Option(id.commOption))
        throw std::runtime_error(session.link() + " has no IEC 61850 option (communication option " +
                                 std::to_string(id.commOption) + ")");
    for (int waited = 0; !session.engine().lastPass() && waited < 200; ++waited)
        std::this_thread::sleep_for(50ms);
    return id;
}

// The device template of the unit's model type, as the window lists them in resources/.
std::string deviceTemplate(const Args& args, const UnitIdentification& id) {
    if (auto t = args.value("--template")) return *t;
    const char* name = id.modelType == ModelTypeHV   ? "KT-740HV.icd"
                       : id.modelType == ModelTypeAU ? "KT-740AU.icd"
                                                     : "KT-740.icd";
    return (std::filesystem::path(programFolder()) / "resources" / name).string();
}

int iec61850Read(std::span<const std::string> words) {
    Args args(words, {"--resources"}, {"--one-ap"});
    args.expectPositional(3);
    const auto& pos = args.positional();
    // The template is read first: a file that cannot be used fails before the unit is asked.
    TICDParser parser(pos[1], -1);
    Session session("iec61850-read", pos[0], args);
    connect61850(session);
    Awaited<Settings61850Read> reading;
    submitRead61850(session.engine(), reading.callback());
    Settings61850Read r = reading.get();
    if (!r.ok()) throw std::runtime_error(describe(r.read, linkName(session.settings())));
    // As "Load from KT-740" and then "Write to ICD File" with the tabs as the read left them.
    writeWarnings(std::cerr, ApplyReadSettings(parser, r.settings));
    TakeServerFieldsForSave(parser, ServerFieldTextsFromSettings(r.settings));
    PassSnapshotPtr pass = session.engine().lastPass();
    SetNamePlate(parser, pass.get(), pass ? NamePlateFromPass(*pass).swRev : std::string());
    if (args.flag("--one-ap")) parser.TwoAccessPoints = false;
    parser.SaveICD(pos[2]);
    std::cout << describe(r.read) << " (" << session.link() << ") into " << pos[2] << '\n';
    return ExitOk;
}

int iec61850Write(std::span<const std::string> words) {
    Args args(words, {"--resources", "--template", "--ied", "--keep-alive", "--time-server"}, {});
    args.expectPositional(2);
    const auto& pos = args.positional();
    if (TICDParser(pos[1], -1).IEDNames().empty())
        throw std::runtime_error(pos[1] + " holds no IED to write");
    Session session("iec61850-write", pos[0], args);
    const UnitIdentification id = connect61850(session);
    // As "Load from CID/ICD File" into the unit's device template, then "Write to KT-740": the
    // file's datasets are taken over by their members' references in the unit's data model.
    TICDParser parser(deviceTemplate(args, id), -1);
    std::optional<std::string> ied = args.value("--ied");
    NamedIedChoice choice(ied);
    parser.ImportFile(pos[1], &choice);
    if (ied && parser.IEDName() != *ied) throw std::runtime_error("no IED named " + *ied + " in " + pos[1]);
    writeWarnings(std::cerr, parser.Warnings());
    ServerFieldTexts texts = ServerFieldTextsFromParser(parser);
    texts.keepAlive = args.value("--keep-alive").value_or("0"); // an SCL file carries none
    if (auto t = args.value("--time-server")) texts.timeServer = *t;
    Struct61850Settings settings;
    try {
        settings = BuildWriteSettings(texts, parser);
    } catch (const std::exception& e) {
        throw std::runtime_error(std::string("nothing was written to KT-740: ") + e.what());
    }
    Awaited<Write61850Result> writing;
    submitWrite61850(session.engine(), std::move(settings), writing.callback());
    const Write61850Result w = writing.get();
    const std::string text = describe(w, linkName(session.settings()));
    if (!w.ok()) throw std::runtime_error(text);
    std::cout << text << " (" << session.link() << ") from " << pos[1] << '\n';
    return ExitOk;
}

constexpr Command commands[] = {
    {"scl-info", "FILE [--ied NAME] [--json]", sclInfo},
    {"scl-import", "TEMPLATE FILE OUT [--ied NAME] [--one-ap] [--model TEXT] [--swrev TEXT] [--sernum TEXT]",
     sclImport},
    {"iec61850-read", "LINK TEMPLATE OUT [--one-ap] [--resources DIR]", iec61850Read},
    {"iec61850-write",
     "LINK FILE [--template ICD] [--ied NAME] [--keep-alive SECONDS] [--time-server A.B.C.D] [--resources "
     "DIR]",
     iec61850Write},
};

} // namespace

std::span<const Command> sclCommands() {
    return commands;
}

} // namespace kt::cli
