// The reader steps of TICDParser's constructor: SCL document → 61850 model.
#include "iec61850/icd_parser.h"

#include "iec61850/scl_dom.h"

#include <algorithm>
#include <type_traits>
#include <utility>

namespace kt {

using scl::attr;
using scl::child;
using scl::children;

namespace {

std::string beforeFirstSpace(const std::string& entry) {
    return entry.substr(0, entry.find(' '));
}

// "prefix + lnClass + inst" of an LN or LN0 element.
std::string nodeName(pugi::xml_node ln) {
    std::string name(attr(ln, "prefix"));
    name += attr(ln, "lnClass");
    name += attr(ln, "inst");
    return name;
}

bool isLogicalNode(pugi::xml_node n) {
    return scl::isElement(n, "LN") || scl::isElement(n, "LN0");
}

std::string pText(pugi::xml_node p) {
    return p.text().get();
}

std::string quoted(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

std::string namesList(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& n : names) out += (out.empty() ? "" : ", ") + n;
    return out;
}

// An unsigned 32-bit attribute: `fallback` when absent; when present and not such a number,
// `fallback` too, with a warning instead of a wrapped value.
template <typename Warn>
uint32_t unsignedAttr(pugi::xml_node n, const char* name, uint32_t fallback, const std::string& where,
                      Warn&& warn) {
    pugi::xml_attribute a = n.attribute(name);
    if (!a) return fallback;
    if (auto v = ParseDecimalIn(a.value(), 0, UINT32_MAX)) return static_cast<uint32_t>(*v);
    warn(std::string(name) + " " + quoted(a.value()) + " of " + where +
         " is not a number from 0 to 4294967295; it is read as " + std::to_string(fallback));
    return fallback;
}

} // namespace

void TICDParser::moveLN0(int ln0Position) {
    if (ln0Position < 0) ln0Position = 0;
    for (pugi::xml_node ap : children(child(root(), "IED"), "AccessPoint")) {
        pugi::xml_node ld = child(child(ap, "Server"), "LDevice");
        int position = 0;
        for (pugi::xml_node n : children(ld)) {
            if (scl::isElement(n, "LN0")) {
                if (position != ln0Position) scl::moveElementTo(n, ln0Position);
                break;
            }
            ++position;
        }
    }
}

void TICDParser::selectIED(OperatorPrompts& prompts) {
    std::vector<std::string> entries;
    for (pugi::xml_node ied : children(root(), "IED"))
        entries.push_back(std::string(attr(ied, "name")) + " Type:" + std::string(attr(ied, "type")));
    iedName_.clear();
    if (entries.size() == 1) {
        iedName_ = beforeFirstSpace(entries[0]);
    } else if (entries.size() > 1) {
        auto chosen = prompts.chooseEntry(IEDSelectionCaption, entries);
        if (chosen && *chosen < entries.size()) iedName_ = beforeFirstSpace(entries[*chosen]);
    }
}

void TICDParser::selectTimeServer(OperatorPrompts& prompts) {
    pugi::xml_node comm = child(root(), "Communication");
    std::vector<std::string> entries;
    std::vector<std::string> addresses;
    for (pugi::xml_node ied : children(root(), "IED")) {
        for (pugi::xml_node ap : children(ied, "AccessPoint")) {
            if (!scl::attrIsTrue(ap, "clock")) continue;
            std::string address;
            for (pugi::xml_node subNetwork : children(comm, "SubNetwork")) {
                pugi::xml_node cap;
                for (pugi::xml_node c : children(subNetwork, "ConnectedAP"))
                    if (attr(c, "iedName") == attr(ied, "name") && attr(c, "apName") == attr(ap, "name")) {
                        cap = c;
                        break;
                    }
                if (pugi::xml_node ip = scl::pByType(child(cap, "Address"), "IP")) {
                    address = pText(ip);
                    break;
                }
            }
            if (address.empty()) continue;
            entries.push_back(std::string(attr(ied, "name")) + " Type:" + std::string(attr(ied, "type")) +
                              " Access point:" + std::string(attr(ap, "name")) + " IP:" + address);
            addresses.push_back(address);
        }
    }
    TimeServerIP = 0;
    std::optional<size_t> chosen;
    if (entries.size() == 1)
        chosen = 0;
    else if (entries.size() > 1)
        chosen = prompts.chooseEntry(TimeServerSelectionCaption, entries);
    // The address is kept beside its entry rather than cut out of the entry's text, which an
    // IED name or type holding "IP:" would confuse.
    if (!chosen || *chosen >= addresses.size()) return;
    if (auto ip = ParseIPv4(addresses[*chosen]))
        TimeServerIP = *ip;
    else
        warn("The time server address " + quoted(addresses[*chosen]) + " of " +
             entries[*chosen].substr(0, entries[*chosen].find(' ')) +
             " is not an IPv4 address; no time server is read");
}

void TICDParser::readCommunication() {
    pugi::xml_node comm = child(root(), "Communication");
    int i = 0;
    for (pugi::xml_node subNetwork : children(comm, "SubNetwork")) {
        pugi::xml_node address = child(modelConnectedAP(subNetwork), "Address");
        const std::string where = "SubNetwork " + quoted(attr(subNetwork, "name"));
        if (i == Interfaces) {
            // The unit has two interfaces; an address of the IED in a further subnetwork has no place.
            if (pugi::xml_node ip = scl::pByType(address, "IP"))
                warn("The address " + quoted(pText(ip)) + " of " + iedName_ + " in " + where +
                     " is left out: the unit has two interfaces, taken from the first two SubNetworks");
            continue;
        }
        const std::string iface = "interface " + std::to_string(i + 1) + " (" + where + ")";
        // A value that cannot be read as what it should be leaves the field as it was.
        auto address32 = [&](std::string_view what, const std::string& text, uint32_t& field) {
            if (auto v = ParseIPv4(text))
                field = *v;
            else
                warn(std::string(what) + " " + quoted(text) + " of " + iface +
                     " is not an IPv4 address; it stays " + IPToText(field));
        };
        auto hexField = [&](std::string_view what, const std::string& text, uint64_t max, int digits,
                            auto& field) {
            if (auto v = ParseHexValue(text, max))
                field = static_cast<std::remove_reference_t<decltype(field)>>(*v);
            else
                warn(std::string(what) + " " + quoted(text) + " is not a hexadecimal number of at most " +
                     std::to_string(digits) + " digits; it stays " + ToHex(field, digits));
        };
        for (pugi::xml_node p : children(address, "P")) {
            std::string_view type = attr(p, "type");
            std::string text = pText(p);
            if (type == "IP") {
                address32("The IP address", text, ipAddress_[i]);
            } else if (type == "IP-SUBNET") {
                address32("The subnet mask", text, ipMask_[i]);
            } else if (type == "IP-GATEWAY") {
                address32("The gateway", text, gateway_[i]);
            } else if (i == 0) {
                if (type == "OSI-AP-Title") {
                    std::string title;
                    for (char c : text)
                        if (c != ' ') title += c == ',' ? '.' : c;
                    bool numbers =
                        !title.empty() && title.find_first_not_of("0123456789.") == std::string::npos;
                    if (numbers)
                        AddressOpts.APTitle = title;
                    else
                        warn("The OSI-AP-Title " + quoted(text) +
                             " is not numbers separated by commas; it stays " + quoted(AddressOpts.APTitle));
                } else if (type == "OSI-AE-Qualifier") {
                    if (auto v = ParseDecimalIn(text, INT32_MIN, INT32_MAX))
                        AddressOpts.AEQualifier = static_cast<int32_t>(*v);
                    else
                        warn("The OSI-AE-Qualifier " + quoted(text) +
                             " is not a whole number that fits 32 bits; it "
                             "stays " +
                             std::to_string(AddressOpts.AEQualifier));
                } else if (type == "OSI-PSEL") {
                    hexField("The OSI-PSEL", text, UINT32_MAX, 8, AddressOpts.PSEL);
                } else if (type == "OSI-SSEL") {
                    hexField("The OSI-SSEL", text, UINT16_MAX, 4, AddressOpts.SSEL);
                } else if (type == "OSI-TSEL") {
                    hexField("The OSI-TSEL", text, UINT16_MAX, 4, AddressOpts.TSEL);
                }
            }
        }
        ++i;
    }
}

std::vector<TICDParser::FileDataSet> TICDParser::fileDataSets() const {
    std::vector<FileDataSet> sets;
    uint16_t ldIndex = 0;
    for (pugi::xml_node ld : children(modelServer(), "LDevice")) {
        for (pugi::xml_node ln : children(ld)) {
            if (!isLogicalNode(ln)) continue;
            for (pugi::xml_node ds : children(ln, "DataSet")) {
                FileDataSet f;
                f.ldIndex = ldIndex;
                f.ldInst = attr(ld, "inst");
                std::string_view name = attr(ds, "name");
                f.fixed = std::find(FixedDataSetNames.begin(), FixedDataSetNames.end(), name) !=
                          FixedDataSetNames.end();
                // LN0 is LLN0 whatever its attributes say, as the member codes name it.
                f.name = (scl::isElement(ln, "LN0") ? std::string("LLN0") : nodeName(ln)) + "$" +
                         std::string(name);
                for (pugi::xml_node fcda : children(ds, "FCDA")) {
                    MemberRef ref;
                    ref.ldInst = attr(fcda, "ldInst");
                    ref.lnRef = std::string(attr(fcda, "prefix")) + std::string(attr(fcda, "lnClass")) +
                                std::string(attr(fcda, "lnInst"));
                    ref.doName = attr(fcda, "doName");
                    ref.daName = attr(fcda, "daName");
                    ref.fc = attr(fcda, "fc");
                    f.members.push_back(std::move(ref));
                }
                sets.push_back(std::move(f));
            }
        }
        ++ldIndex;
    }
    return sets;
}

void TICDParser::readDataSets() {
    pugi::xml_node ied = modelIED();
    if (pugi::xml_node dyn = child(child(ied, "Services"), "DynDataSet")) {
        auto first = static_cast<uint16_t>(32 - static_cast<uint16_t>(StrToInt64Def(attr(dyn, "max"), 0)));
        FirstUserDataSet = std::min<uint16_t>(first, DataSetSlots);
    }
    int slot = 0;
    std::vector<std::string> noRoom;
    for (FileDataSet& f : fileDataSets()) {
        const std::string full = f.ldInst + "/" + f.name;
        if (f.members.empty()) {
            // A dataset without members would be a free slot in the middle of the used ones.
            warn("Data set " + full + " has no members; it is left out", true);
            continue;
        }
        TDatasetConfig d;
        std::vector<LeftOutMember> out;
        for (size_t m = 0; m < f.members.size(); ++m) {
            const MemberRef& ref = f.members[m];
            MemberEncoding e = EncodeMemberChecked(ref);
            if (e.code && d.Members.size() < UINT16_MAX) {
                d.Members.push_back(*e.code);
                continue;
            }
            std::string reason = e.code ? "more than 65535 members" : e.reason;
            out.push_back({static_cast<int>(m + 1), MemberRefText(ref), reason});
        }
        if (d.Members.empty()) {
            warn("Data set " + full + " is left out: none of its " + std::to_string(f.members.size()) +
                     " members is in this data model (first: " + out.front().reference + ": " +
                     out.front().reason + ")",
                 true);
            continue;
        }
        if (slot == DataSetSlots) { // the unit has 32 slots
            noRoom.push_back(full);
            continue;
        }
        for (const LeftOutMember& l : out)
            warn("Data set " + full + ": member " + std::to_string(l.position) + ", " + l.reference +
                     ", is not in this data model (" + l.reason + "); it is left out",
                 true);
        d.Fixed = f.fixed;
        d.Name = f.name;
        d.LDIndex = f.ldIndex;
        d.Count = static_cast<uint16_t>(d.Members.size());
        dataSets_[slot] = std::move(d);
        leftOut_[slot] = std::move(out);
        ++slot;
    }
    if (!noRoom.empty())
        warn(std::to_string(noRoom.size()) + " data set" + (noRoom.size() == 1 ? " is" : "s are") +
                 " left out, the unit has 32 slots: " + namesList(noRoom),
             true);
}

void TICDParser::readReportControls() {
    rcbs_.clear();
    for (pugi::xml_node ld : children(modelServer(), "LDevice")) {
        for (pugi::xml_node rc : children(child(ld, "LN0"), "ReportControl")) {
            TRCBConfig b;
            b.Name = attr(rc, "name");
            const std::string where = "report control block " + b.Name;
            std::string_view rptID = attr(rc, "rptID");
            b.RptID = Utf8Prefix(rptID, 64);
            if (b.RptID.size() < rptID.size())
                warn("The report ID of " + b.Name + " is longer than 64 characters; it is cut to " +
                     quoted(b.RptID));
            b.BufTime = unsignedAttr(rc, "bufTime", 0, where, [this](std::string t) { warn(std::move(t)); });
            b.IntgPd = unsignedAttr(rc, "intgPd", 0, where, [this](std::string t) { warn(std::move(t)); });
            b.ConfRev = unsignedAttr(rc, "confRev", 1, where, [this](std::string t) { warn(std::move(t)); });
            b.Buffered = scl::attrIsTrue(rc, "buffered");

            std::string datSet(attr(rc, "datSet"));
            if (datSet.find('/') != std::string::npos)
                std::replace(datSet.begin(), datSet.end(), '.', '$');
            else if (!datSet.empty())
                datSet = std::string(attr(ld, "inst")) + "/LLN0$" + datSet;
            b.DataSetRef = datSet;
            b.DataSetIndex = static_cast<uint8_t>(FindDataSet(b.DataSetRef) + 1);
            if (!datSet.empty() && b.DataSetIndex == 0)
                warn("Report control block " + b.Name + " names data set " + datSet +
                         ", which is not among the data sets read; it has no data set here",
                     true);

            if (pugi::xml_node t = child(rc, "TrgOps")) {
                if (scl::attrIsTrue(t, "dchg")) b.TrgOps |= TrgDchg;
                if (scl::attrIsTrue(t, "qchg")) b.TrgOps |= TrgQchg;
                if (scl::attrIsTrue(t, "dupd")) b.TrgOps |= TrgDupd;
                if (scl::attrIsTrue(t, "period")) b.TrgOps |= TrgPeriod;
                if (attr(t, "gi") != "false") b.TrgOps |= TrgGi; // gi is on unless switched off
            } else {
                b.TrgOps = TrgGi;
            }
            if (pugi::xml_node o = child(rc, "OptFields")) {
                static constexpr std::pair<const char*, uint16_t> bits[] = {
                    {"seqNum", OptSeqNum},         {"timeStamp", OptTimeStamp}, {"dataSet", OptDataSet},
                    {"reasonCode", OptReasonCode}, {"dataRef", OptDataRef},     {"entryID", OptEntryID},
                    {"configRef", OptConfigRef},   {"bufOvfl", OptBufOvfl}};
                for (auto [name, bit] : bits)
                    if (scl::attrIsTrue(o, name)) b.OptFields |= bit;
            }
            rcbs_.push_back(std::move(b));
        }
    }
}

namespace {

// The SubNetwork, other than the first, that holds the GSE address of (iedName, cbName).
pugi::xml_node gseElsewhere(pugi::xml_node docRoot, std::string_view iedName, std::string_view cbName) {
    bool first = true;
    for (pugi::xml_node subNetwork : children(child(docRoot, "Communication"), "SubNetwork")) {
        if (std::exchange(first, false)) continue;
        for (pugi::xml_node cap : children(subNetwork, "ConnectedAP"))
            if (attr(cap, "iedName") == iedName &&
                child(scl::childWhere(cap, "GSE", "cbName", cbName), "Address"))
                return subNetwork;
    }
    return {};
}

} // namespace

// The P values of a GSE address; a value that cannot be read leaves its field at 0.
void TICDParser::readGseAddress(pugi::xml_node address, const std::string& where, uint16_t* appID,
                                uint64_t* mac, uint16_t* vlanID, uint8_t* vlanPriority) {
    for (pugi::xml_node p : children(address, "P")) {
        std::string_view type = attr(p, "type");
        std::string text = pText(p);
        auto bad = [&](const char* expected) {
            warn(std::string(type) + " " + quoted(text) + " of " + where + " is not " + expected +
                 "; it stays 0");
        };
        if (type == "VLAN-ID" && vlanID) {
            if (auto v = ParseHexValue(text, 0xFFF))
                *vlanID = static_cast<uint16_t>(*v);
            else
                bad("a hexadecimal VLAN identifier of at most 3 digits");
        } else if (type == "VLAN-PRIORITY" && vlanPriority) {
            if (auto v = ParseHexValue(text, 7))
                *vlanPriority = static_cast<uint8_t>(*v);
            else
                bad("a VLAN priority from 0 to 7");
        } else if (type == "MAC-Address" && mac) {
            if (auto v = ParseMAC(text))
                *mac = *v;
            else
                bad("a MAC address of six hexadecimal octets");
        } else if (type == "APPID" && appID) {
            if (auto v = ParseHexValue(text, 0xFFFF))
                *appID = static_cast<uint16_t>(*v);
            else
                bad("a hexadecimal APPID of at most 4 digits");
        }
    }
}

void TICDParser::readGOOSEControls() {
    gcbs_.clear();
    for (pugi::xml_node ld : children(modelServer(), "LDevice")) {
        for (pugi::xml_node gc : children(child(ld, "LN0"), "GSEControl")) {
            TGCBConfig b;
            b.Name = attr(gc, "name");
            b.GoID = attr(gc, "appID");
            b.Interface = gcbs_.size() % 2 == 0 ? 1 : 2;
            pugi::xml_node address = gseAddress(iedName_, b.Name);
            if (!address) {
                if (pugi::xml_node other = gseElsewhere(root(), iedName_, b.Name))
                    warn("The GOOSE address of " + b.Name + " is in SubNetwork " +
                         quoted(attr(other, "name")) +
                         ", and only the first SubNetwork's GOOSE addresses are read; its APPID, MAC address "
                         "and "
                         "VLAN stay 0");
            }
            readGseAddress(address, "GOOSE control block " + b.Name, &b.AppID, &b.DstMAC, &b.VLANID,
                           &b.VLANPriority);
            gcbs_.push_back(std::move(b));
        }
    }
}

void TICDParser::readNetworkInputs() {
    nis_.clear();
    for (pugi::xml_node ld : children(modelServer(), "LDevice")) {
        for (pugi::xml_node ext : children(child(child(ld, "LN0"), "Inputs"), "ExtRef")) {
            TNIConfig n;
            std::string_view intAddr = attr(ext, "intAddr");
            auto parts = SplitText(intAddr, ',');
            n.Name = parts[0];
            size_t comma = intAddr.find(',');
            if (comma != std::string_view::npos && comma + 1 < intAddr.size()) {
                auto part = [&](size_t i) { return i < parts.size() ? parts[i] : std::string_view(); };
                // Missing parts read as empty, which is 0; a part that is there and cannot be read
                // is 0 as well, and said.
                auto bad = [&](size_t i, const char* expected) {
                    warn("Part " + std::to_string(i + 1) + ", " + quoted(part(i)) + ", of the intAddr of " +
                         n.Name + " is not " + expected + "; it is read as 0");
                };
                auto number = [&](size_t i, int64_t max, const char* expected) -> int64_t {
                    if (part(i).empty()) return 0;
                    if (auto v = ParseDecimalIn(part(i), 0, max)) return *v;
                    bad(i, expected);
                    return 0;
                };
                if (!part(1).empty()) {
                    if (auto v = ParseMAC(part(1)))
                        n.DstMAC = *v;
                    else
                        bad(1, "a MAC address");
                }
                if (!part(2).empty()) {
                    if (auto v = ParseHexValue(part(2), 0xFFFF))
                        n.AppID = static_cast<uint16_t>(*v);
                    else
                        bad(2, "a hexadecimal APPID");
                }
                n.ConfRev = static_cast<uint32_t>(number(3, UINT32_MAX, "a number from 0 to 4294967295"));
                n.GoID = part(4);
                n.DataIndex = static_cast<uint16_t>(number(5, UINT16_MAX, "a number from 0 to 65535"));
                n.BitIndex = static_cast<uint16_t>(number(6, UINT16_MAX, "a number from 0 to 65535"));
                n.Inverted = number(7, INT64_MAX, "a number") != 0;
                n.Enabled = number(8, INT64_MAX, "a number") != 0;
            } else {
                n.DstMAC = 0x010CCD010002;
                n.AppID = 3;
                n.ConfRev = 1;
                n.DataIndex = static_cast<uint16_t>(nis_.size());
                n.GoID = "G3";
            }
            n.Source.IEDName = attr(ext, "iedName");
            n.Source.LDInst = attr(ext, "ldInst");
            n.Source.Prefix = attr(ext, "prefix");
            n.Source.LNClass = attr(ext, "lnClass");
            n.Source.LNInst = attr(ext, "lnInst");
            n.Source.DOName = attr(ext, "doName");
            n.Source.DAName = attr(ext, "daName");
            nis_.push_back(std::move(n));
        }
    }
}

void TICDParser::readExtRefs() {
    extRefs_.clear();
    for (pugi::xml_node ied : children(root(), "IED")) {
        std::string m(attr(ied, "name"));
        if (m == iedName_) continue;
        for (pugi::xml_node ld : children(child(child(ied, "AccessPoint"), "Server"), "LDevice")) {
            pugi::xml_node ln0 = child(ld, "LN0");
            for (pugi::xml_node gc : children(ln0, "GSEControl")) {
                std::string g(attr(gc, "name"));
                TExtRefAddr addr;
                addr.GoID = attr(gc, "appID");
                const std::string where = "GOOSE control block " + g + " of " + m;
                addr.ConfRev =
                    unsignedAttr(gc, "confRev", 0, where, [this](std::string t) { warn(std::move(t)); });
                std::string goCBRef = m + std::string(attr(ld, "inst")) + "/LLN0." + g;
                pugi::xml_node address = gseAddress(m, g);
                if (!address) {
                    if (pugi::xml_node other = gseElsewhere(root(), m, g))
                        warn("The GOOSE address of " + goCBRef + " is in SubNetwork " +
                             quoted(attr(other, "name")) +
                             ", and only the first SubNetwork's GOOSE addresses are read; its APPID and MAC "
                             "address "
                             "stay 0");
                }
                readGseAddress(address, where, &addr.AppID, &addr.DstMAC, nullptr, nullptr);
                std::string_view datSet = attr(gc, "datSet");
                for (pugi::xml_node ds : children(ln0, "DataSet")) {
                    if (attr(ds, "name") != datSet) continue;
                    uint16_t position = 0;
                    for (pugi::xml_node fcda : children(ds, "FCDA")) {
                        TExtRefConfig e;
                        e.Desc.IEDName = m;
                        e.Desc.LDInst = attr(fcda, "ldInst");
                        e.Desc.Prefix = attr(fcda, "prefix");
                        e.Desc.LNClass = attr(fcda, "lnClass");
                        e.Desc.LNInst = attr(fcda, "lnInst");
                        e.Desc.DOName = attr(fcda, "doName");
                        e.Desc.DAName = attr(fcda, "daName");
                        e.Desc.GoCBRef = goCBRef;
                        e.Addr = addr;
                        e.Addr.DataIndex = position++;
                        extRefs_.push_back(std::move(e));
                    }
                }
            }
        }
    }
}

void TICDParser::warnAboutLeftOutParts() {
    std::vector<std::string> others;
    for (pugi::xml_node ied : children(root(), "IED"))
        if (pugi::xml_node(ied) != modelIED()) others.emplace_back(attr(ied, "name"));
    if (!others.empty())
        warn("The file holds " + std::to_string(others.size() + 1) + " IEDs; " +
             std::string(attr(modelIED(), "name")) + " is read, and " + namesList(others) +
             (others.size() == 1 ? " is" : " are") +
             " not (only their GOOSE messages are offered as sources of network inputs)");

    pugi::xml_node ied = modelIED();
    pugi::xml_node firstAP = child(ied, "AccessPoint");
    for (pugi::xml_node ap : children(ied, "AccessPoint"))
        for (pugi::xml_node ld : children(ap, "LDevice"))
            warn("Logical device " + std::string(attr(ld, "inst")) + " stands directly in access point " +
                 std::string(attr(ap, "name")) + ", outside a Server; it is left out");
    if (firstAP && !child(firstAP, "Server")) {
        for (pugi::xml_node ap : children(ied, "AccessPoint"))
            if (child(ap, "Server")) {
                warn("Access point " + std::string(attr(firstAP, "name")) +
                     " has no Server; the logical devices of the Server in access point " +
                     std::string(attr(ap, "name")) + " are not read");
                break;
            }
    }
    for (pugi::xml_node ld : children(modelServer(), "LDevice")) {
        bool firstLN0 = true;
        for (pugi::xml_node ln : children(ld)) {
            if (!isLogicalNode(ln)) continue;
            // Only the first LN0 of a device carries the control blocks that are read.
            if (scl::isElement(ln, "LN0") && std::exchange(firstLN0, false)) continue;
            for (pugi::xml_node rc : children(ln, "ReportControl"))
                warn("Report control block " + std::string(attr(rc, "name")) + " in " +
                     std::string(attr(ld, "inst")) + "/" + nodeName(ln) +
                     " is left out: only report control blocks of LLN0 are read");
        }
    }
}

} // namespace kt
