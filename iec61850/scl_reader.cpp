// The reader steps of TICDParser's constructor: SCL document → 61850 model.
#include "iec61850/icd_parser.h"

#include "iec61850/scl_dom.h"

#include <algorithm>

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

// A decimal attribute as 64 bits, `fallback` when absent or not a number.
int64_t decimalAttr(pugi::xml_node n, const char* name, int64_t fallback) {
    return StrToInt64Def(attr(n, name), fallback);
}

std::string pText(pugi::xml_node p) {
    return p.text().get();
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
    if (chosen && *chosen < addresses.size()) TimeServerIP = TextToIP(addresses[*chosen]);
}

void TICDParser::readCommunication() {
    pugi::xml_node comm = child(root(), "Communication");
    int i = 0;
    for (pugi::xml_node subNetwork : children(comm, "SubNetwork")) {
        pugi::xml_node address = child(modelConnectedAP(subNetwork), "Address");
        for (pugi::xml_node p : children(address, "P")) {
            std::string_view type = attr(p, "type");
            std::string text = pText(p);
            if (type == "IP") {
                ipAddress_[i] = TextToIP(text);
            } else if (type == "IP-SUBNET") {
                ipMask_[i] = TextToIP(text);
            } else if (type == "IP-GATEWAY") {
                gateway_[i] = TextToIP(text);
            } else if (i == 0) {
                if (type == "OSI-AP-Title") {
                    std::replace(text.begin(), text.end(), ',', '.');
                    AddressOpts.APTitle = text;
                } else if (type == "OSI-AE-Qualifier") {
                    auto v = ParseDecimal(text);
                    AddressOpts.AEQualifier =
                        v && *v >= INT32_MIN && *v <= INT32_MAX ? static_cast<int32_t>(*v) : 12;
                } else if (type == "OSI-PSEL") {
                    AddressOpts.PSEL = static_cast<uint32_t>(HexToInt(text));
                } else if (type == "OSI-SSEL") {
                    AddressOpts.SSEL = static_cast<uint16_t>(HexToInt(text));
                } else if (type == "OSI-TSEL") {
                    AddressOpts.TSEL = static_cast<uint16_t>(HexToInt(text));
                }
            }
        }
        if (++i == Interfaces) break;
    }
}

void TICDParser::readDataSets() {
    pugi::xml_node ied = modelIED();
    if (pugi::xml_node dyn = child(child(ied, "Services"), "DynDataSet")) {
        auto first = static_cast<uint16_t>(32 - static_cast<uint16_t>(decimalAttr(dyn, "max", 0)));
        FirstUserDataSet = std::min<uint16_t>(first, DataSetSlots);
    }
    int slot = 0;
    uint16_t ldIndex = 0;
    for (pugi::xml_node ld : children(modelServer(), "LDevice")) {
        for (pugi::xml_node ln : children(ld)) {
            if (!isLogicalNode(ln)) continue;
            for (pugi::xml_node ds : children(ln, "DataSet")) {
                if (slot == DataSetSlots) return; // the unit has 32 slots; later datasets are left out
                TDatasetConfig& d = dataSets_[slot++];
                std::string_view name = attr(ds, "name");
                d.Fixed = std::find(FixedDataSetNames.begin(), FixedDataSetNames.end(), name) !=
                          FixedDataSetNames.end();
                d.Name = nodeName(ln) + "$" + std::string(name);
                d.LDIndex = ldIndex;
                d.Members.clear();
                for (pugi::xml_node fcda : children(ds, "FCDA")) {
                    if (d.Members.size() == UINT16_MAX) break; // Count is 16 bits
                    std::string lnRef(attr(fcda, "prefix"));
                    lnRef += attr(fcda, "lnClass");
                    lnRef += attr(fcda, "lnInst");
                    d.Members.push_back(EncodeMember(attr(fcda, "ldInst"), lnRef, attr(fcda, "doName"),
                                                     attr(fcda, "daName"), attr(fcda, "fc")));
                }
                d.Count = static_cast<uint16_t>(d.Members.size());
            }
        }
        ++ldIndex;
    }
}

void TICDParser::readReportControls() {
    rcbs_.clear();
    for (pugi::xml_node ld : children(modelServer(), "LDevice")) {
        for (pugi::xml_node rc : children(child(ld, "LN0"), "ReportControl")) {
            TRCBConfig b;
            b.Name = attr(rc, "name");
            b.RptID = Utf8Prefix(attr(rc, "rptID"), 64);
            b.BufTime = static_cast<uint32_t>(decimalAttr(rc, "bufTime", 0));
            b.IntgPd = static_cast<uint32_t>(decimalAttr(rc, "intgPd", 0));
            b.ConfRev = static_cast<uint32_t>(decimalAttr(rc, "confRev", 1));
            b.Buffered = scl::attrIsTrue(rc, "buffered");

            std::string datSet(attr(rc, "datSet"));
            if (datSet.find('/') != std::string::npos)
                std::replace(datSet.begin(), datSet.end(), '.', '$');
            else if (!datSet.empty())
                datSet = std::string(attr(ld, "inst")) + "/LLN0$" + datSet;
            b.DataSetRef = datSet;
            b.DataSetIndex = static_cast<uint8_t>(FindDataSet(b.DataSetRef) + 1);

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

void TICDParser::readGOOSEControls() {
    gcbs_.clear();
    for (pugi::xml_node ld : children(modelServer(), "LDevice")) {
        for (pugi::xml_node gc : children(child(ld, "LN0"), "GSEControl")) {
            TGCBConfig b;
            b.Name = attr(gc, "name");
            b.GoID = attr(gc, "appID");
            b.Interface = gcbs_.size() % 2 == 0 ? 1 : 2;
            for (pugi::xml_node p : children(gseAddress(iedName_, b.Name), "P")) {
                std::string_view type = attr(p, "type");
                std::string text = pText(p);
                if (type == "VLAN-ID")
                    b.VLANID = static_cast<uint16_t>(HexToInt(text));
                else if (type == "VLAN-PRIORITY")
                    b.VLANPriority = static_cast<uint8_t>(HexToInt(text));
                else if (type == "MAC-Address")
                    b.DstMAC = TextToMAC(text);
                else if (type == "APPID")
                    b.AppID = static_cast<uint16_t>(HexToInt(text));
            }
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
                n.DstMAC = TextToMAC(part(1));
                n.AppID = static_cast<uint16_t>(HexToInt(part(2)));
                n.ConfRev = static_cast<uint32_t>(StrToInt64Def(part(3), 0));
                n.GoID = part(4);
                n.DataIndex = static_cast<uint16_t>(StrToInt64Def(part(5), 0));
                n.BitIndex = static_cast<uint16_t>(StrToInt64Def(part(6), 0));
                n.Inverted = StrToInt64Def(part(7), 0) != 0;
                n.Enabled = StrToInt64Def(part(8), 0) != 0;
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
                addr.ConfRev = static_cast<uint32_t>(decimalAttr(gc, "confRev", 0));
                std::string goCBRef = m + std::string(attr(ld, "inst")) + "/LLN0." + g;
                pugi::xml_node address = gseAddress(m, g);
                if (pugi::xml_node p = scl::pByType(address, "APPID"))
                    addr.AppID = static_cast<uint16_t>(HexToInt(pText(p)));
                if (pugi::xml_node p = scl::pByType(address, "MAC-Address"))
                    addr.DstMAC = TextToMAC(pText(p));
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

} // namespace kt
