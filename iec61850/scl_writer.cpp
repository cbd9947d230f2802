// SaveICD: the model written into a copy of the template.
#include "iec61850/icd_parser.h"

#include "iec61850/scl_dom.h"
#include "iec61850/scl_names.h"

#include <algorithm>
#include <utility>

namespace kt {

using scl::attr;
using scl::child;
using scl::children;
using scl::setAttr;

namespace {

const char* boolText(bool b) {
    return b ? "true" : "false";
}

std::string nodeName(pugi::xml_node ln) {
    std::string name(attr(ln, "prefix"));
    name += attr(ln, "lnClass");
    name += attr(ln, "inst");
    return name;
}

pugi::xml_node modelIEDIn(pugi::xml_node docRoot, const std::string& iedName) {
    for (pugi::xml_node ied : children(docRoot, "IED"))
        if (iedName.empty() || attr(ied, "name") == iedName) return ied;
    return {};
}

pugi::xml_node serverIn(pugi::xml_node docRoot, const std::string& iedName) {
    return child(child(modelIEDIn(docRoot, iedName), "AccessPoint"), "Server");
}

pugi::xml_node connectedAPIn(pugi::xml_node subNetwork, const std::string& iedName) {
    for (pugi::xml_node cap : children(subNetwork, "ConnectedAP"))
        if (iedName.empty() || attr(cap, "iedName") == iedName) return cap;
    return {};
}

// The value of x.y in a logical node: DOI x, DAI y, its Val. Nothing is created.
void setNamePlate(pugi::xml_node ln, std::string_view x, std::string_view y, const std::string& value) {
    pugi::xml_node dai = scl::childWhere(scl::childWhere(ln, "DOI", "name", x), "DAI", "name", y);
    if (pugi::xml_node val = child(dai, "Val")) val.text().set(value.c_str());
}

// The first child named `local`, or a new one placed before the first of `followers` (the
// schema's order), or at the end.
pugi::xml_node childOrInsert(pugi::xml_node parent, std::string_view local,
                             std::initializer_list<std::string_view> followers) {
    if (pugi::xml_node found = child(parent, local)) return found;
    std::string name = scl::qualifiedName(parent, local);
    for (pugi::xml_node c : children(parent))
        if (std::find(followers.begin(), followers.end(), scl::localName(c.name())) != followers.end())
            return parent.insert_child_before(name.c_str(), c);
    return parent.append_child(name.c_str());
}

// Elements the schema puts before an LN's datasets and an LDevice's LN0.
bool isHeadElement(pugi::xml_node n) {
    return scl::isElement(n, "Text") || scl::isElement(n, "Private");
}

void setPText(pugi::xml_node p, const std::string& value) {
    p.text().set(value.c_str());
}

} // namespace

void TICDParser::checkWritable() const {
    auto refuse = [](const std::string& what) { throw SclError(what); };
    if (!scl::isIEDName(iedName_))
        refuse(
            "The IED name \"" + iedName_ +
            "\" cannot be saved: SCL needs a letter followed by letters, digits or underscores, 64 at most");
    for (const TRCBConfig& b : rcbs_)
        if (!b.RptID.empty() && !scl::isMessageID(b.RptID))
            refuse("The report ID of " + b.Name +
                   " cannot be saved: SCL allows up to 129 printable ASCII characters");
    for (const TGCBConfig& b : gcbs_)
        if (!scl::isMessageID(b.GoID))
            refuse("The GOOSE ID of " + b.Name +
                   " cannot be saved: SCL needs 1 to 129 printable ASCII characters");
    for (int i = FirstUserDataSet; i < DataSetSlots; ++i) {
        const TDatasetConfig& ds = dataSets_[i];
        size_t dollar = ds.Name.find('$');
        if (ds.Count == 0 || dollar == std::string::npos) continue;
        std::string name = ds.Name.substr(dollar + 1);
        if (!scl::isDataSetName(name))
            refuse("The data set name \"" + name +
                   "\" cannot be saved: SCL needs a letter followed by letters, digits or underscores, 32 at "
                   "most");
    }
    for (const TNIConfig& n : nis_) {
        const TExtRefDesc& s = n.Source;
        struct Part {
            const std::string& text;
            bool (*valid)(std::string_view);
            const char* what;
        };
        const Part parts[] = {{s.IEDName, scl::isIEDNameOrRelative, "IED name"},
                              {s.LDInst, scl::isLDInst, "logical device"},
                              {s.Prefix, scl::isPrefix, "prefix"},
                              {s.LNClass, scl::isLNClass, "logical node class"},
                              {s.LNInst, scl::isLNInst, "logical node instance"},
                              {s.DOName, scl::isFullDOName, "data object name"},
                              {s.DAName, scl::isFullAttributeName, "data attribute name"}};
        for (const Part& p : parts)
            if (!p.text.empty() && !p.valid(p.text))
                refuse("The source of " + n.Name + " cannot be saved: \"" + p.text + "\" is not a valid " +
                       p.what);
    }
    const std::pair<const std::string&, const char*> texts[] = {{AddressOpts.APTitle, "AP title"},
                                                                {Model, "name plate model"},
                                                                {SwRev, "software revision"},
                                                                {SerNum, "serial number"}};
    for (auto& [text, what] : texts)
        if (!scl::isXmlText(text))
            refuse(std::string("The ") + what +
                   " cannot be saved: it holds characters an XML file cannot carry");
}

void TICDParser::SaveICD(const std::string& fileName) {
    if (!doc_ || !root()) return;
    checkWritable();

    // The writer works on a copy: the parser's document stays the template, and a failed save
    // leaves it as it was.
    pugi::xml_document work;
    work.reset(*doc_);
    pugi::xml_node docRoot = work.document_element();

    renameIED(docRoot, iedName_, iedName_);
    writeCommunication(docRoot);
    std::vector<pugi::xml_node> writtenRCBs;
    writeReportControls(docRoot, writtenRCBs);
    writeDataSets(docRoot);
    // A report control can only name a dataset of its own LN0; one that names anything else
    // (another node or device, a slot that was not written) is saved without a dataset.
    for (pugi::xml_node rc : writtenRCBs) {
        std::string_view datSet = attr(rc, "datSet");
        if (!datSet.empty() && !scl::childWhere(rc.parent(), "DataSet", "name", datSet))
            rc.remove_attribute("datSet");
    }
    writeNamePlates(docRoot);
    writeGOOSEControls(docRoot);
    writeExtRefs(docRoot);
    writeLN0First(docRoot);
    if (TwoAccessPoints) writeSecondAccessPoint(docRoot);

    pugi::xml_node declaration = work.prepend_child(pugi::node_declaration);
    declaration.append_attribute("version") = "1.0";
    declaration.append_attribute("encoding") = "UTF-8";
    scl::saveDocument(work, fileName);
}

void TICDParser::writeCommunication(pugi::xml_node docRoot) const {
    pugi::xml_node subNetwork = child(child(docRoot, "Communication"), "SubNetwork");
    pugi::xml_node address = child(connectedAPIn(subNetwork, iedName_), "Address");
    for (pugi::xml_node p : children(address, "P")) {
        std::string_view type = attr(p, "type");
        if (type == "IP") {
            setPText(p, IPToText(ipAddress_[0]));
        } else if (type == "IP-SUBNET") {
            setPText(p, IPToText(ipMask_[0]));
        } else if (type == "IP-GATEWAY") {
            setPText(p, IPToText(gateway_[0]));
        } else if (type == "OSI-AP-Title") {
            // An address element cannot be empty: without a title the template's stays.
            if (AddressOpts.APTitle.empty()) continue;
            std::string title = AddressOpts.APTitle;
            std::replace(title.begin(), title.end(), '.', ',');
            setPText(p, title);
        } else if (type == "OSI-AE-Qualifier") {
            setPText(p, std::to_string(AddressOpts.AEQualifier));
        } else if (type == "OSI-PSEL") {
            setPText(p, ToHex(AddressOpts.PSEL, 8));
        } else if (type == "OSI-SSEL") {
            setPText(p, ToHex(AddressOpts.SSEL, 4));
        } else if (type == "OSI-TSEL") {
            setPText(p, ToHex(AddressOpts.TSEL, 4));
        }
    }
}

void TICDParser::writeReportControls(pugi::xml_node docRoot, std::vector<pugi::xml_node>& written) const {
    for (pugi::xml_node ld : children(serverIn(docRoot, iedName_), "LDevice")) {
        std::string l(attr(ld, "inst"));
        for (pugi::xml_node rc : children(child(ld, "LN0"), "ReportControl")) {
            auto found = FindRCB(attr(rc, "name"));
            if (!found) continue;
            const TRCBConfig& b = *found;

            std::string datSet;
            if (b.DataSetIndex == 0) {
                datSet = "DS1_Measurement";
            } else if (b.DataSetIndex <= DataSetSlots) {
                const TDatasetConfig& ds = dataSets_[b.DataSetIndex - 1];
                std::string r = LDInstByIndex(ds.LDIndex) + "/" + ds.Name;
                if (r.starts_with(l + "/LLN0$")) {
                    datSet = r.substr(r.find('$') + 1);
                } else {
                    datSet = r;
                    std::replace(datSet.begin(), datSet.end(), '$', '.');
                }
            } // an index past the slots names no dataset
            if (datSet.empty())
                rc.remove_attribute("datSet");
            else
                setAttr(rc, "datSet", datSet);

            // An empty report ID is left to the server rather than written as an invalid "".
            if (b.RptID.empty())
                rc.remove_attribute("rptID");
            else
                setAttr(rc, "rptID", b.RptID);
            setAttr(rc, "bufTime", std::to_string(b.BufTime));
            setAttr(rc, "intgPd", std::to_string(b.IntgPd));
            setAttr(rc, "confRev", std::to_string(b.ConfRev));

            pugi::xml_node t = childOrInsert(rc, "TrgOps", {"OptFields", "RptEnabled"});
            setAttr(t, "dchg", boolText(b.TrgOps & TrgDchg));
            setAttr(t, "qchg", boolText(b.TrgOps & TrgQchg));
            setAttr(t, "dupd", boolText(b.TrgOps & TrgDupd));
            setAttr(t, "period", boolText(b.TrgOps & TrgPeriod));

            pugi::xml_node o = childOrInsert(rc, "OptFields", {"RptEnabled"});
            setAttr(o, "seqNum", boolText(b.OptFields & OptSeqNum));
            setAttr(o, "timeStamp", boolText(b.OptFields & OptTimeStamp));
            setAttr(o, "dataSet", boolText(b.OptFields & OptDataSet));
            setAttr(o, "reasonCode", boolText(b.OptFields & OptReasonCode));
            setAttr(o, "dataRef", boolText(b.OptFields & OptDataRef));
            setAttr(o, "entryID", boolText(b.OptFields & OptEntryID));
            setAttr(o, "configRef", boolText(b.OptFields & OptConfigRef));
            written.push_back(rc);
        }
    }
}

void TICDParser::writeDataSets(pugi::xml_node docRoot) const {
    pugi::xml_node server = serverIn(docRoot, iedName_);
    for (int i = FirstUserDataSet; i < DataSetSlots; ++i) {
        const TDatasetConfig& ds = dataSets_[i];
        if (ds.Count == 0) continue;
        pugi::xml_node ld;
        int k = ds.LDIndex;
        for (pugi::xml_node n : children(server, "LDevice"))
            if (k-- == 0) {
                ld = n;
                break;
            }
        size_t dollar = ds.Name.find('$');
        if (!ld || dollar == std::string::npos) continue;
        std::string lnName = ds.Name.substr(0, dollar), dsName = ds.Name.substr(dollar + 1);
        pugi::xml_node ln;
        for (pugi::xml_node n : children(ld)) {
            if ((lnName == "LLN0" && scl::isElement(n, "LN0")) ||
                (scl::isElement(n, "LN") && nodeName(n) == lnName)) {
                ln = n;
                break;
            }
        }
        // A node cannot hold two datasets of one name; the one already there stays.
        if (!ln || scl::childWhere(ln, "DataSet", "name", dsName)) continue;

        std::vector<MemberRef> members;
        size_t count = std::min<size_t>(ds.Count, ds.Members.size());
        for (size_t m = 0; m < count; ++m)
            if (auto ref = DecodeMember(ds.Members[m])) members.push_back(std::move(*ref));
        if (members.empty()) continue; // a dataset needs at least one member

        pugi::xml_node before;
        for (pugi::xml_node c : children(ln))
            if (!isHeadElement(c) && !scl::isElement(c, "DataSet")) {
                before = c;
                break;
            }
        std::string tag = scl::qualifiedName(ln, "DataSet");
        pugi::xml_node dataSet =
            before ? ln.insert_child_before(tag.c_str(), before) : ln.append_child(tag.c_str());
        setAttr(dataSet, "name", dsName);
        std::string fcdaTag = scl::qualifiedName(ln, "FCDA");
        for (const MemberRef& ref : members) {
            pugi::xml_node fcda = dataSet.append_child(fcdaTag.c_str());
            LNRefParts parts = SplitLNRef(ref.lnRef);
            setAttr(fcda, "ldInst", ref.ldInst);
            setAttr(fcda, "prefix", parts.prefix);
            setAttr(fcda, "lnClass", parts.lnClass);
            if (!parts.lnInst.empty()) setAttr(fcda, "lnInst", parts.lnInst); // LLN0 has no instance
            setAttr(fcda, "doName", ref.doName);
            if (!ref.daName.empty()) setAttr(fcda, "daName", ref.daName);
            setAttr(fcda, "fc", ref.fc);
        }
    }
}

void TICDParser::writeNamePlates(pugi::xml_node docRoot) const {
    for (pugi::xml_node ld : children(serverIn(docRoot, iedName_), "LDevice")) {
        for (pugi::xml_node ln : children(ld)) {
            if (!scl::isElement(ln, "LN") && !scl::isElement(ln, "LN0")) continue;
            if (attr(ln, "lnClass") == "LPHD") {
                setNamePlate(ln, "PhyNam", "swRev", SwRev);
                setNamePlate(ln, "PhyNam", "serNum", SerNum);
                setNamePlate(ln, "PhyNam", "model", Model);
            } else {
                setNamePlate(ln, "NamPlt", "swRev", SwRev);
            }
        }
    }
}

void TICDParser::writeGOOSEControls(pugi::xml_node docRoot) const {
    for (pugi::xml_node ld : children(serverIn(docRoot, iedName_), "LDevice")) {
        for (pugi::xml_node gc : children(child(ld, "LN0"), "GSEControl")) {
            auto found = FindGCB(attr(gc, "name"));
            if (!found) continue;
            const TGCBConfig& b = *found;
            setAttr(gc, "appID", b.GoID);
            for (pugi::xml_node p : children(gseAddressIn(docRoot, iedName_, b.Name), "P")) {
                std::string_view type = attr(p, "type");
                if (type == "VLAN-ID")
                    setPText(p, ToHex(b.VLANID, 3));
                else if (type == "VLAN-PRIORITY")
                    setPText(p, ToHex(b.VLANPriority, 1));
                else if (type == "MAC-Address")
                    setPText(p, MACToText(b.DstMAC));
                else if (type == "APPID")
                    setPText(p, ToHex(b.AppID, 4));
            }
        }
    }
}

void TICDParser::writeExtRefs(pugi::xml_node docRoot) const {
    for (pugi::xml_node ld : children(serverIn(docRoot, iedName_), "LDevice")) {
        for (pugi::xml_node ext : children(child(child(ld, "LN0"), "Inputs"), "ExtRef")) {
            std::string_view intAddr = attr(ext, "intAddr");
            std::string n(intAddr.substr(0, intAddr.find(',')));
            auto found = FindNI(n);
            if (!found) continue;
            setAttr(ext, "intAddr", n);
            const TExtRefDesc& s = found->Source;
            const std::pair<const char*, const std::string&> copies[] = {
                {"iedName", s.IEDName}, {"ldInst", s.LDInst}, {"prefix", s.Prefix}, {"lnClass", s.LNClass},
                {"lnInst", s.LNInst},   {"doName", s.DOName}, {"daName", s.DAName}};
            for (auto& [name, text] : copies)
                if (!text.empty()) setAttr(ext, name, text);
        }
    }
}

void TICDParser::writeLN0First(pugi::xml_node docRoot) const {
    pugi::xml_node ld = child(serverIn(docRoot, iedName_), "LDevice");
    pugi::xml_node ln0 = child(ld, "LN0");
    if (!ln0) return;
    // "First" is after the Text and Private elements the schema puts ahead of it.
    int first = 0;
    for (pugi::xml_node c : children(ld)) {
        if (c == ln0 || !isHeadElement(c)) break;
        ++first;
    }
    scl::moveElementTo(ln0, first);
}

void TICDParser::writeSecondAccessPoint(pugi::xml_node docRoot) const {
    pugi::xml_node comm = child(docRoot, "Communication");
    if (pugi::xml_node subNetwork = child(comm, "SubNetwork")) {
        setAttr(subNetwork, "name", "S1");
        pugi::xml_node copy = comm.insert_copy_after(subNetwork, subNetwork);
        setAttr(copy, "name", "S2");
        if (pugi::xml_node cap = connectedAPIn(copy, iedName_)) {
            setAttr(cap, "apName", "P2");
            for (pugi::xml_node p : children(child(cap, "Address"), "P")) {
                std::string_view type = attr(p, "type");
                if (type == "IP")
                    setPText(p, IPToText(ipAddress_[1]));
                else if (type == "IP-SUBNET")
                    setPText(p, IPToText(ipMask_[1]));
                else if (type == "IP-GATEWAY")
                    setPText(p, IPToText(gateway_[1]));
            }
        }
    }
    pugi::xml_node ied = modelIEDIn(docRoot, iedName_);
    if (pugi::xml_node ap = child(ied, "AccessPoint")) {
        std::vector<std::string> used{"Relay2"};
        for (pugi::xml_node a : children(ied, "AccessPoint"))
            for (pugi::xml_node ld : children(child(a, "Server"), "LDevice"))
                used.emplace_back(attr(ld, "inst"));
        pugi::xml_node copy = ied.insert_copy_after(ap, ap);
        setAttr(copy, "name", "P2");
        bool first = true;
        for (pugi::xml_node ld : children(child(copy, "Server"), "LDevice")) {
            if (std::exchange(first, false)) {
                setAttr(ld, "inst", "Relay2");
                continue;
            }
            // LDevice names are unique within an IED: further devices of the copy get a number.
            std::string inst(attr(ld, "inst")), name;
            for (int k = 2;
                 std::find(used.begin(), used.end(), name = inst + std::to_string(k)) != used.end(); ++k) {
            }
            used.push_back(name);
            setAttr(ld, "inst", name);
        }
    }
}

} // namespace kt
