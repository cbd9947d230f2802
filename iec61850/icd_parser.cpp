// TICDParser: construction, the model's accessors and the import of another file.
#include "iec61850/icd_parser.h"

#include "iec61850/scl_dom.h"
#include "iec61850/type_index.h"

#include <utility>

namespace kt {

using scl::attr;
using scl::child;
using scl::children;

namespace {

void checkIndex(int i, size_t count, const char* text) {
    if (i < 0 || static_cast<size_t>(i) >= count) throw ModelError(text);
}

bool isIEDNameChar(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == ' ';
}

} // namespace

TICDParser::TICDParser(const std::string& fileName, int ln0Position, OperatorPrompts* prompts)
    : fileName_(fileName), doc_(std::make_unique<pugi::xml_document>()) {
    scl::loadDocument(*doc_, fileName);
    pugi::xml_node top = doc_->document_element();
    if (scl::localName(top.name()) != "SCL")
        throw SclError(fileName + " is not an SCL file: its document element is <" + std::string(top.name()) +
                       ">, not <SCL>");
    NonInteractivePrompts firstEntry;
    OperatorPrompts& ask = prompts ? *prompts : firstEntry;
    if (ln0Position != -1) moveLN0(ln0Position);
    selectIED(ask);
    selectTimeServer(ask);
    readCommunication();
    readDataSets();
    readReportControls();
    readGOOSEControls();
    readNetworkInputs();
    readExtRefs();
    warnAboutLeftOutParts();
    TwoAccessPoints = true;
}

void TICDParser::warn(std::string text, bool aboutDataSets) {
    warnings_.push_back({std::move(text), aboutDataSets});
}

std::vector<std::string> TICDParser::Warnings() const {
    std::vector<std::string> texts;
    texts.reserve(warnings_.size());
    for (const Warning& w : warnings_) texts.push_back(w.text);
    return texts;
}

const std::vector<LeftOutMember>& TICDParser::LeftOutMembers(int slot) const {
    static const std::vector<LeftOutMember> none;
    return slot >= 0 && slot < DataSetSlots ? leftOut_[slot] : none;
}

TICDParser::TICDParser(TICDParser&&) noexcept = default;
TICDParser& TICDParser::operator=(TICDParser&&) noexcept = default;
TICDParser::~TICDParser() = default;

void TICDParser::swap(TICDParser& other) noexcept {
    TICDParser tmp(std::move(other));
    other = std::move(*this);
    *this = std::move(tmp);
}

// ---- paths -------------------------------------------------------------------------------------

pugi::xml_node TICDParser::root() const {
    return doc_ ? doc_->document_element() : pugi::xml_node();
}

namespace {

pugi::xml_node iedIn(pugi::xml_node docRoot, const std::string& name) {
    for (pugi::xml_node ied : children(docRoot, "IED"))
        if (name.empty() || attr(ied, "name") == name) return ied;
    return {};
}

pugi::xml_node serverOf(pugi::xml_node ied) {
    return child(child(ied, "AccessPoint"), "Server");
}

} // namespace

pugi::xml_node TICDParser::modelIED() const {
    return iedIn(root(), iedName_);
}

pugi::xml_node TICDParser::modelServer() const {
    if (!useIndex_) return serverOf(modelIED());
    TypeIndex& ix = index();
    if (!ix.serverKnown(iedName_)) ix.rememberServer(iedName_, serverOf(modelIED()));
    return ix.server();
}

pugi::xml_node TICDParser::modelConnectedAP(pugi::xml_node subNetwork) const {
    for (pugi::xml_node cap : children(subNetwork, "ConnectedAP"))
        if (iedName_.empty() || attr(cap, "iedName") == iedName_) return cap;
    return {};
}

pugi::xml_node TICDParser::gseAddressIn(pugi::xml_node docRoot, std::string_view iedName,
                                        std::string_view cbName) const {
    pugi::xml_node subNetwork = child(child(docRoot, "Communication"), "SubNetwork");
    pugi::xml_node cap = scl::childWhere(subNetwork, "ConnectedAP", "iedName", iedName);
    return child(scl::childWhere(cap, "GSE", "cbName", cbName), "Address");
}

pugi::xml_node TICDParser::gseAddress(std::string_view iedName, std::string_view cbName) const {
    return gseAddressIn(root(), iedName, cbName);
}

TypeIndex& TICDParser::index() const {
    if (!index_) index_ = std::make_unique<TypeIndex>(root());
    return *index_;
}

std::vector<std::string> TICDParser::IEDNames() const {
    std::vector<std::string> names;
    for (pugi::xml_node ied : children(root(), "IED")) names.emplace_back(attr(ied, "name"));
    return names;
}

std::string TICDParser::PhyNamValue(std::string_view attribute) const {
    for (pugi::xml_node ld : children(modelServer(), "LDevice"))
        for (pugi::xml_node ln : children(ld, "LN"))
            if (attr(ln, "lnClass") == "LPHD") {
                pugi::xml_node dai =
                    scl::childWhere(scl::childWhere(ln, "DOI", "name", "PhyNam"), "DAI", "name", attribute);
                return child(dai, "Val").text().get();
            }
    return {};
}

// The model's IED (found by its old name) takes the new name, and so do its connected access
// points. Without an old name, or when no IED carries it, the first IED and the first connected
// access point of the first subnetwork are the ones renamed.
void TICDParser::renameIED(pugi::xml_node docRoot, const std::string& oldName,
                           const std::string& newName) const {
    pugi::xml_node ied = oldName.empty() ? pugi::xml_node() : iedIn(docRoot, oldName);
    bool byName = ied;
    if (!ied) ied = child(docRoot, "IED");
    if (ied) scl::setAttr(ied, "name", newName);
    pugi::xml_node comm = child(docRoot, "Communication");
    if (byName) {
        for (pugi::xml_node subNetwork : children(comm, "SubNetwork"))
            for (pugi::xml_node cap : children(subNetwork, "ConnectedAP"))
                if (attr(cap, "iedName") == oldName) cap.attribute("iedName").set_value(newName.c_str());
    } else if (pugi::xml_node cap = child(child(comm, "SubNetwork"), "ConnectedAP")) {
        scl::setAttr(cap, "iedName", newName);
    }
}

// ---- model accessors ---------------------------------------------------------------------------

void TICDParser::SetIEDName(const std::string& name) {
    for (char c : name)
        if (!isIEDNameChar(static_cast<unsigned char>(c))) throw ModelError("Invalid character in IED name");
    std::string old = std::exchange(iedName_, name);
    renameIED(root(), old, name);
}

TDatasetConfig TICDParser::GetDataSet(int slot) const {
    checkIndex(slot, DataSetSlots, "DataSet index out of range");
    return dataSets_[slot];
}

void TICDParser::SetDataSet(int slot, const TDatasetConfig& ds) {
    checkIndex(slot, DataSetSlots, "DataSet index out of range");
    dataSets_[slot] = ds;
    leftOut_[slot].clear(); // what the file left out no longer belongs to this slot
}

uint32_t TICDParser::GetIPAddress(int i) const {
    checkIndex(i, Interfaces, "IP Address index out of range");
    return ipAddress_[i];
}

void TICDParser::SetIPAddress(int i, uint32_t v) {
    checkIndex(i, Interfaces, "IP Address index out of range");
    ipAddress_[i] = v;
}

uint32_t TICDParser::GetIPMask(int i) const {
    checkIndex(i, Interfaces, "IP Mask index out of range");
    return ipMask_[i];
}

void TICDParser::SetIPMask(int i, uint32_t v) {
    checkIndex(i, Interfaces, "IP Mask index out of range");
    ipMask_[i] = v;
}

uint32_t TICDParser::GetGateway(int i) const {
    checkIndex(i, Interfaces, "Gateway index out of range");
    return gateway_[i];
}

void TICDParser::SetGateway(int i, uint32_t v) {
    checkIndex(i, Interfaces, "Gateway index out of range");
    gateway_[i] = v;
}

TRCBConfig TICDParser::GetRCB(int i) const {
    checkIndex(i, rcbs_.size(), "RCB index out of range");
    return rcbs_[i];
}

void TICDParser::SetRCB(int i, const TRCBConfig& rcb) {
    checkIndex(i, rcbs_.size(), "RCB index out of range");
    TRCBConfig& b = rcbs_[i];
    TRCBConfig copy = rcb;
    copy.Buffered = b.Buffered;
    copy.Name = b.Name;
    b = std::move(copy);
}

TGCBConfig TICDParser::GetGCB(int i) const {
    checkIndex(i, gcbs_.size(), "GCB index out of range");
    return gcbs_[i];
}

void TICDParser::SetGCB(int i, const TGCBConfig& gcb) {
    checkIndex(i, gcbs_.size(), "GCB index out of range");
    TGCBConfig copy = gcb;
    copy.Name = gcbs_[i].Name;
    gcbs_[i] = std::move(copy);
}

TNIConfig TICDParser::GetNI(int i) const {
    checkIndex(i, nis_.size(), "NI index out of range");
    return nis_[i];
}

void TICDParser::SetNI(int i, const TNIConfig& ni) {
    checkIndex(i, nis_.size(), "NI index out of range");
    TNIConfig copy = ni;
    copy.Name = nis_[i].Name;
    nis_[i] = std::move(copy);
}

TExtRefConfig TICDParser::GetExtRef(int i) const {
    checkIndex(i, extRefs_.size(), "ExtRef index out of range");
    return extRefs_[i];
}

void TICDParser::SetExtRef(int i, const TExtRefConfig& ext) {
    checkIndex(i, extRefs_.size(), "ExtRef index out of range");
    extRefs_[i] = ext;
}

std::string TICDParser::DataSetFullName(int slot) const {
    if (slot < 0 || slot >= DataSetSlots || dataSets_[slot].Count == 0) return {};
    return LDInstByIndex(dataSets_[slot].LDIndex) + "/" + dataSets_[slot].Name;
}

int TICDParser::FindDataSet(std::string_view fullName) const {
    for (int k = 0; k < DataSetSlots; ++k)
        if (dataSets_[k].Count > 0 && DataSetFullName(k) == fullName) return k;
    return -1;
}

std::string TICDParser::LDInstByIndex(int k) const {
    if (k < 0) return {};
    for (pugi::xml_node ld : children(modelServer(), "LDevice"))
        if (k-- == 0) return std::string(attr(ld, "inst"));
    return {};
}

std::optional<TRCBConfig> TICDParser::FindRCB(std::string_view name) const {
    for (const TRCBConfig& b : rcbs_)
        if (b.Name == name) return b;
    return std::nullopt;
}

std::optional<TGCBConfig> TICDParser::FindGCB(std::string_view name) const {
    for (const TGCBConfig& b : gcbs_)
        if (b.Name == name) return b;
    return std::nullopt;
}

std::optional<TNIConfig> TICDParser::FindNI(std::string_view name) const {
    for (const TNIConfig& n : nis_)
        if (n.Name == name) return n;
    return std::nullopt;
}

bool TICDParser::DeleteDataSet(int slot, OperatorPrompts* prompts) {
    if (slot < 0 || slot >= DataSetSlots) return false;
    NonInteractivePrompts noOperator;
    OperatorPrompts& ask = prompts ? *prompts : noOperator;
    const unsigned index = static_cast<unsigned>(slot) + 1;
    for (const TRCBConfig& b : rcbs_)
        if (b.DataSetIndex == index && !ask.confirm("Dataset is assigned to report control block. Continue?"))
            return false;
    for (TRCBConfig& b : rcbs_) {
        if (b.DataSetIndex == index) {
            b.DataSetIndex = 0;
            ++b.ConfRev;
        } else if (b.DataSetIndex > index) {
            --b.DataSetIndex;
        }
    }
    for (int i = slot; i + 1 < DataSetSlots; ++i) {
        dataSets_[i] = std::move(dataSets_[i + 1]);
        leftOut_[i] = std::move(leftOut_[i + 1]);
    }
    dataSets_[DataSetSlots - 1] = TDatasetConfig{};
    leftOut_[DataSetSlots - 1].clear();
    return true;
}

// ---- import ------------------------------------------------------------------------------------

int TICDParser::LN0Position() const {
    pugi::xml_node ld = child(modelServer(), "LDevice");
    int position = 0;
    for (pugi::xml_node n : children(ld)) {
        if (scl::isElement(n, "LN0")) return position;
        ++position;
    }
    return -1;
}

void TICDParser::ImportFile(const std::string& fileName, OperatorPrompts* prompts) {
    // Member codes count logical nodes by position, so the file is read with this template's
    // LN0 position.
    TICDParser r(fileName, LN0Position(), prompts);
    if (r.iedName_.empty()) {
        warnings_ = {{"The file has no IED to import, or none was chosen; nothing is imported"}};
        return;
    }
    SetIEDName(r.iedName_); // the only step that can refuse; nothing has changed before it
    // What the file's reading said about its datasets in its own model does not apply here: the
    // import says what became of them in this one.
    std::vector<Warning> notes;
    for (Warning& w : r.warnings_)
        if (!w.aboutDataSets) notes.push_back(std::move(w));
    auto note = [&](std::string text) { notes.push_back({std::move(text), true}); };

    for (int i = 0; i < Interfaces; ++i) {
        SetIPAddress(i, r.GetIPAddress(i));
        SetGateway(i, r.GetGateway(i));
        SetIPMask(i, r.GetIPMask(i));
    }
    AddressOpts = r.AddressOpts;
    TimeServerIP = r.TimeServerIP;

    for (int k = 0; k < DataSetSlots; ++k) {
        TDatasetConfig& ds = dataSets_[k];
        if (ds.Count > 0 && !ds.Fixed) {
            ds.Count = 0;
            leftOut_[k].clear();
        }
    }
    // The file's datasets come over by their members' references: each member is looked up in
    // this model, whose codes count its own logical nodes and types. What this model does not
    // have is left out and said, never given the code of something else.
    std::vector<std::string> noRoom;
    for (const FileDataSet& f : r.fileDataSets()) {
        const std::string full = f.ldInst + "/" + f.name;
        int target = -1;
        bool present = false;
        for (int k = 0; k < DataSetSlots && target < 0 && !present; ++k) {
            const std::string ours = DataSetFullName(k);
            if (ours.empty())
                target = k;
            else if (ours == full)
                present = true;
        }
        if (present) continue;
        if (f.members.empty()) continue; // the file's reading said so already
        int ldIndex = 0;
        bool found = false;
        for (pugi::xml_node ld : children(modelServer(), "LDevice")) {
            if (attr(ld, "inst") == f.ldInst) {
                found = true;
                break;
            }
            ++ldIndex;
        }
        if (!found) {
            note("Data set " + full + " is not imported: the template has no logical device " + f.ldInst);
            continue;
        }
        TDatasetConfig d;
        std::vector<LeftOutMember> out;
        for (size_t m = 0; m < f.members.size(); ++m) {
            MemberEncoding e = EncodeMemberChecked(f.members[m]);
            if (e.code && d.Members.size() < UINT16_MAX)
                d.Members.push_back(*e.code);
            else
                out.push_back({static_cast<int>(m + 1), MemberRefText(f.members[m]),
                               e.code ? "more than 65535 members" : e.reason});
        }
        if (d.Members.empty()) {
            note("Data set " + full + " is not imported: none of its " + std::to_string(f.members.size()) +
                 " members is in the template's data model (first: " + out.front().reference + ": " +
                 out.front().reason + ")");
            continue;
        }
        if (target < 0) {
            noRoom.push_back(full);
            continue;
        }
        for (const LeftOutMember& l : out)
            note("Data set " + full + ": member " + std::to_string(l.position) + ", " + l.reference +
                 ", is not in the template's data model (" + l.reason + "); it is left out");
        d.Fixed = f.fixed;
        d.Name = f.name;
        d.LDIndex = static_cast<uint16_t>(ldIndex);
        d.Count = static_cast<uint16_t>(d.Members.size());
        dataSets_[target] = std::move(d);
        leftOut_[target] = std::move(out);
    }
    if (!noRoom.empty())
        note(std::to_string(noRoom.size()) + " data set" + (noRoom.size() == 1 ? " is" : "s are") +
             " not imported, all 32 slots are taken: " + [&] {
                 std::string list;
                 for (const std::string& n : noRoom) list += (list.empty() ? "" : ", ") + n;
                 return list;
             }());

    // Blocks are taken over where the template has a block of the same name at the same place.
    auto unmatched = [&](const char* kind, const std::string& name) {
        note(std::string(kind) + " " + name +
             " of the file has no block of that name at its place in the template; it is not imported");
    };
    for (size_t l = 0; l < r.rcbs_.size(); ++l) {
        if (l >= rcbs_.size() || rcbs_[l].Name != r.rcbs_[l].Name) {
            unmatched("Report control block", r.rcbs_[l].Name);
            continue;
        }
        TRCBConfig b = r.rcbs_[l];
        // Only a used slot can be the block's dataset; an empty reference names none.
        b.DataSetIndex = static_cast<uint8_t>(FindDataSet(b.DataSetRef) + 1);
        if (!b.DataSetRef.empty() && b.DataSetIndex == 0)
            note("Report control block " + b.Name + " names data set " + b.DataSetRef +
                 ", which is not in the model after the import; it has no data set");
        SetRCB(static_cast<int>(l), b);
    }
    for (size_t l = 0; l < r.gcbs_.size(); ++l) {
        if (l >= gcbs_.size() || gcbs_[l].Name != r.gcbs_[l].Name)
            unmatched("GOOSE control block", r.gcbs_[l].Name);
        else
            SetGCB(static_cast<int>(l), r.gcbs_[l]);
    }
    for (size_t l = 0; l < r.nis_.size(); ++l) {
        if (l >= nis_.size() || nis_[l].Name != r.nis_[l].Name)
            unmatched("Network input", r.nis_[l].Name);
        else
            SetNI(static_cast<int>(l), r.nis_[l]);
    }
    extRefs_ = r.extRefs_;
    warnings_ = std::move(notes);
}

} // namespace kt
