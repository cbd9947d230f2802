#!/usr/bin/env python3
"""Writes the register description files shipped in resources/ from the one register map below.

    scripts/gen_register_files.py            write resources/registers*_*.xml
    scripts/gen_register_files.py --check    exit 1 when the committed files differ from the map

Each family (KT-740, KT-740AU, KT-740HV) and firmware version gets one XML data packet. The map
says which registers, groups, value lists and rules exist from which firmware version on and in
which families; docs/register-files.md tells the product history the map encodes.
"""

import argparse
import pathlib
import sys
from xml.sax.saxutils import quoteattr

ROOT = pathlib.Path(__file__).resolve().parent.parent
RESOURCES = ROOT / "resources"

PLAIN, AU, HV = "", "AU", "HV"

# Firmware versions with a register file, per family (file suffix). Gaps are deliberate: a unit
# between two versions is served by the older file.
VERSIONS = {
    PLAIN: [200, 230, 270, 300, 320],
    AU: [200, 230, 270, 300],
    HV: [200, 250, 280, 300],
}

# Columns: (name, fieldtype, width). TITLE and WARNING appeared with the 2.30 file format.
COLUMNS = [
    ("GROUP", "string", 40),
    ("REGISTER", "i4", None),
    ("LABEL", "string", 40),
    ("SETTING", "string", 60),
    ("TYPE", "i4", None),
    ("TRANSLATIONTYPE", "string", 20),
    ("TRANSLATIONINDEX", "i4", None),
    ("TRANSLATIONTEXT", "string", 60),
    ("ACCESS", "i4", None),
    ("MIN", "i4", None),
    ("MAX", "i4", None),
    ("S_ORDER", "i4", None),
    ("ESSENTIAL", "string", 3),
    ("G_ORDER", "i4", None),
    ("MAIN", "string", 40),
    ("NAMEINDEX", "string", 20),
    ("TITLE", "string", 60),
    ("DISPLAY", "string", 3),
    ("WARNING", "string", 600),
    ("DEPENDENCY", "i4", None),
    ("D_LIST", "string", 20),
    ("D_TYPE", "string", 10),
    ("D_VALUE", "i4", None),
    ("D_TEXT", "string", 60),
]
COLUMNS_SINCE = {"TITLE": 230, "WARNING": 230}

NO_GROUP = 999  # G_ORDER of value-list and dependency-list rows
HIDDEN = 99     # S_ORDER of rows that are polled but not listed


def words(family):
    """The model wording: the KT-740AU speaks of earth fault and NER."""
    if family == AU:
        return {"GF": "EF", "NGR": "NER", "Ground": "Earth"}
    return {"GF": "GF", "NGR": "NGR", "Ground": "Ground"}


def say(text, family):
    return text.format(**words(family))


ALL = (PLAIN, AU, HV)

# ---------------------------------------------------------------------------------------------
# Value lists (TRANSLATIONTYPE rows). Each is a function of (family, version) giving
# [(index, text), ...]; the views show the text for the register's value.


def diag_list(family, version):
    items = [(0, "OK"), (1, "Calibration Error"), (2, "A/D Error"), (3, "NVRAM Error"),
             (4, "Watchdog Reset"), (5, "Sensing Resistor Fault")]
    if version >= 230:
        items.append((6, "Calibration Required"))
    if version >= 270:
        items += [(7, "SD Card Error"), (8, "Upgrade Error")]
    return items


def comm_list(family, version):
    items = [(0, "None"), (1, "DeviceNet"), (2, "PROFIBUS DP"), (3, "Modbus TCP"),
             (4, "EtherNet/IP"), (5, "Modbus TCP, two ports")]
    if version >= 270:
        items += [(6, "IEC 61850"), (7, "IEC 61850, PRP"), (8, "IEC 61850, HSR")]
    return items


def indexed(texts):
    return lambda family, version: list(enumerate(texts))


# Switch positions 0..10; position 10 of the trip-level switch selects the memory setting.
GF_TIMES = ["0.1", "0.2", "0.3", "0.4", "0.5", "0.7", "1.0", "2.0", "3.0", "5.0", "10.0"]
EF_TIMES = ["0.10", "0.12", "0.14", "0.16", "0.18", "0.20", "0.25", "0.30", "0.35", "0.40", "0.50"]
GF_LEVELS = ["2", "4", "6", "8", "10", "20", "40", "60", "80", "100", "MEM"]
EF_LEVELS = ["0.125", "0.25", "0.3", "0.4", "0.5", "0.75", "1", "2", "3", "4", "MEM"]
PULSE_TIMES = ["1.0", "1.2", "1.4", "1.6", "1.8", "2.0", "2.2", "2.4", "2.6", "2.8", "3.0"]

# Vn trip levels in volts by switch position, for the two sensing resistors. VNLVL is the list
# for sensor setting 0 (100 kilohms), VNLVL2 for sensor setting 1 (register 24 reads 1).
BASE_VOLTS = [20, 60, 100, 130, 170, 200, 340, 800, 1200, 1700, 2000]
HV_VOLTS = [100, 300, 500, 650, 850, 1000, 1700, 4000, 6000, 8500, 10000]


def vn_list(second):
    def make(family, version):
        if family == HV:
            volts = [v * 2 for v in HV_VOLTS] if second else HV_VOLTS
        else:
            volts = BASE_VOLTS if second else [v * 5 for v in BASE_VOLTS]
        return [(i, str(v)) for i, v in enumerate(volts)]
    return make


def sensor_list(family, version):
    if family == HV:
        return [(0, "100 kilohms"), (1, "200 kilohms")]
    return [(0, "100 kilohms"), (1, "20 kilohms")]


VALUE_LISTS = {
    "YESNO": indexed(["No", "Yes"]),
    "ENABLE": indexed(["Disabled", "Enabled"]),
    "LATCH": indexed(["Non Latching", "Latching"]),
    "FAILSAFE": indexed(["Non Failsafe", "Failsafe"]),
    "K1FUNC": indexed(["Pulsing", "Trip"]),
    "FREQ": indexed(["60 Hz", "50 Hz"]),
    "MODELTYPE": indexed(["KT-740", "QM-5740", "KT-740AU", "KT-740HV"]),
    "COMMOPT": comm_list,
    "DIAG": diag_list,
    "GFTIME": indexed(GF_TIMES),
    "EFTIME": indexed(EF_TIMES),
    "GFLEVEL": indexed(GF_LEVELS),
    "EFLEVEL": indexed(EF_LEVELS),
    "PULSETIME": indexed(PULSE_TIMES),
    "VNLVL": vn_list(False),
    "VNLVL2": vn_list(True),
    "SENSOR": sensor_list,
    "CALSTAT": indexed(["Factory Calibration", "Remote Calibration OK", "Calibration in Progress",
                        "Calibration Failed"]),
    "DUMPSTAT": indexed(["Idle", "Writing", "Complete", "Failed: no SD card", "Failed: SD card full"]),
    "BAUD": indexed(["9600", "19200", "38400", "57600", "115200"]),
    "PARITY": indexed(["None", "Odd", "Even"]),
    "DNBAUD": indexed(["125 kbit/s", "250 kbit/s", "500 kbit/s"]),
}

# ---------------------------------------------------------------------------------------------
# Dependency lists (D_LIST rows): [(D_VALUE, D_TEXT, MIN, MAX), ...].


def resistance_ranges(family, version):
    # Nominal resistance limits by Vn trip level position: the unit needs at least a few
    # milliamperes through the resistor at the trip voltage.
    base = HV_VOLTS if family == HV else BASE_VOLTS
    return [(i, "", max(1, v // 10), v * 2) for i, v in enumerate(base)]


DEPENDENCY_LISTS = {
    "RESRANGE": resistance_ranges,
    "PULSEWARN": lambda family, version: [(1, " (K1 set to trip: not used)", None, None)],
    "VNWARN": lambda family, version: [(0, " (Vn trip disabled)", None, None)],
}

NOMINAL_HELP = ("Enter the resistance stamped on the {NGR} nameplate, in ohms.\\r\\n"
                "The allowed range follows the Vn trip level: a higher trip level needs a higher "
                "resistance.\\r\\n"
                "After commissioning, compare it with the Measured {NGR} Resistance under Metered "
                "Values.")

# ---------------------------------------------------------------------------------------------
# The register map. Each group lists its registers in display order. Keys of a register:
#   reg, label, setting, type, tt (value list, "0" for none), access, min, max, essential,
#   warning, dep/d_list/d_type (a dependency rule), hidden (S_ORDER 99),
#   since (first firmware version), families (default: all).


def R(reg, label, setting, type_, **kw):
    return dict(reg=reg, label=label, setting=setting, type=type_, **kw)


GROUPS = [
    dict(main="Status", nameindex="status", title="Unit Status", registers=[
        R(8, "DB_TRIPSTATUS", "Trip Status", 1),
        R(9, "DB_SETPOINTSTATUS", "Device Status", 1),
        R(10, "DB_DIAGNOSTIC", "Diagnostic", 1, tt="DIAG"),
        R(11, "DB_HEALTHY", "Unit Healthy", 1, tt="YESNO"),
        R(12, "DB_GFTIME", "{GF} Trip Time (s)", 1, tt={PLAIN: "GFTIME", HV: "GFTIME", AU: "EFTIME"}),
        R(13, "DB_GFSETTING_DETENT", {PLAIN: "GF Trip Level (% CT)", HV: "GF Trip Level (% CT)",
                                      AU: "EF Trip Level (A)"}, 1,
          tt={PLAIN: "GFLEVEL", HV: "GFLEVEL", AU: "EFLEVEL"}),
        R(14, "DB_PULSETIME", "Pulse Period (s)", 1, tt="PULSETIME", families=(PLAIN,),
          dep=29, d_list="PULSEWARN", d_type="WARNING"),
        R(61, "DB_RECORDCOUNT", "Event Records", 1),
        R(60, "DB_RECORDHEAD", "Newest Event Index", 1, hidden=True),
        R(72, "DB_CAL_STATUS", "Calibration Status", 1, tt="CALSTAT", since=230),
        R(73, "DB_CAL_COUNT", "Calibrations Performed", 1, since=230),
        R(97, "DB_DUMP_STATUS", "Diagnostics Dump", 1, tt="DUMPSTAT", since=270),
        R(140, "DB_SD_FREE", "SD Card Free Space (kB)", 17, since=270),
    ]),
    dict(main="Metering", nameindex="metering", title="Metered Values", registers=[
        R(40, "DB_NGRCURRENT", "{NGR} Current (% FS)", 1),
        R(41, "DB_NGRVOLTAGE", "{NGR} Voltage (% Setting)", 1),
        R(42, "DB_DELTAOHMS", "Resistance Change (ohms)", 6),
        R(44, "DB_RESISTANCE", "Measured {NGR} Resistance (ohms)", 15),
        R(46, "DB_NGRCURRENT_MA", "{NGR} Current (mA)", 5),
        R(43, "DB_CALVALUE", "Calibration Value", 6),
        R(48, "DB_TEMPERATURE", "Internal Temperature (C)", 6),
    ]),
    dict(main="System", nameindex="system", title="System Information", registers=[
        R(0, "DB_MODEL_CODE", "Model Code", 1),
        R(4, "DB_MODEL_TYPE", "Model Type", 1, tt="MODELTYPE"),
        R(1, "DB_FIRMWARE_VERSION", "Firmware Version", 1),
        R(76, "DB_FIRMWARE_BUILD", "Firmware Build", 14),
        R(7, "DB_HARDWARE_REV", "Hardware Revision", 8),
        R(2, "DB_SERIAL_NUMBER", "Serial Number", 2),
        R(74, "DB_BOARD_ID", "Board ID", 19),
        R(5, "DB_COMM_CODE", "Communication Option", 1, tt="COMMOPT"),
        R(80, "DB_RELAY_TAG", "Relay Tag", 11, since=300, dep=96, d_type="PREFIX"),
        R(96, "DB_SITE_CODE", "Site Code", 18, since=300, hidden=True),
        R(165, "DB_SITE_DESCRIPTION", "Site Description", 10, since=320),
        R(56, "DB_DATE", "Unit Date (D/M/Y)", 3),
        R(58, "DB_TIME", "Unit Time", 4),
        R(50, "DB_OPERATING_TIME", "Operating Time (s)", 17),
        R(52, "DB_SAMPLE_COUNT", "Samples Taken", 13),
    ]),
    dict(main="Commissioning", nameindex="commissioning", title="Commissioning", since=300, registers=[
        R(199, "DB_ESSENTIAL_VERIFIED", "Essential Settings Verified", 1, tt="YESNO", access=1,
          essential=True),
    ]),
    dict(main="{Ground} Fault Settings", nameindex="gf settings", title="{Ground}-Fault Trip Settings", registers=[
        R(16, "DB_GFSETTING_MEMORY", "{GF} Trip Level, MEM Position (% CT)", 1, access=1),
        R(34, "DB_CT_NOMINAL", "CT Primary Rating (A)", 1, access=10, essential=True),
        R(35, "DB_CT_DETECTION", {PLAIN: "CT Detection", HV: "CT Detection", AU: "CT Trip Latch"}, 1,
          tt={PLAIN: "ENABLE", HV: "ENABLE", AU: "LATCH"}, access=1),
        R(39, "DB_CT_TRIP_TIME", "CT Trip Time (ms)", 1, access=11, min=15, max=2000, since=320),
    ]),
    dict(main="Resistor Monitoring", nameindex="resistor settings", title="{NGR} Monitoring", registers=[
        R(20, "DB_NGR_NOMINAL", "Nominal {NGR} Resistance (ohms)", 1, access=11, min=0, max=0,
          dep=23, d_list="RESRANGE", d_type="RANGE", warning=NOMINAL_HELP, essential=True),
        R(21, "DB_RF_LEVEL", "RF Trip Level (% change)", 1, access=11, min=5, max=50),
        R(22, "DB_RF_TIME", "RF Trip Time (s)", 1, access=11, min=1, max=60),
        R(37, "DB_SHORT_LEVEL", "{NGR} Short Trip Level (% of nominal)", 1, access=11, min=10, max=90,
          since=270),
        R(38, "DB_OPEN_LEVEL", "{NGR} Open Trip Level (% of nominal)", 1, access=11, min=110, max=500,
          since=270),
    ]),
    dict(main="Voltage Settings", nameindex="voltage settings", title="Neutral Voltage Trip", registers=[
        R(24, "DB_SENSOR", "Sensing Resistor", 1, tt="SENSOR", access=1, essential=True),
        R(23, "DB_VNLEVEL", "Vn Trip Level (V)", 1, tt="VNLVL", access=1, essential=True),
        R(33, "DB_VN_ENABLE", "Vn Trip", 1, tt="ENABLE", access=1),
        R(36, "DB_VN_TIME", "Vn Trip Time (s)", 1, access=11, min=1, max=100,
          dep=33, d_list="VNWARN", d_type="WARNING"),
    ]),
    dict(main="Relay Configuration", nameindex="relay settings", title="Relay Configuration", registers=[
        R(25, "DB_FREQUENCY", "System Frequency", 1, tt="FREQ", access=1, essential=True),
        R(26, "DB_GF_LATCH", "{GF} Trip Latch", 1, tt="LATCH", access=1),
        R(27, "DB_RF_LATCH", "RF Trip Latch", 1, tt="LATCH", access=1),
        R(28, "DB_K1_FAILSAFE", "K1 Mode", 1, tt="FAILSAFE", access=1, families=(PLAIN, HV)),
        R(29, "DB_PULSING", "K1 Operation", 1, tt="K1FUNC", access=1, families=(PLAIN,)),
    ]),
    dict(main="Modbus", nameindex="modbus", title="Modbus RTU Port", registers=[
        R(125, "DB_MODBUS_ADDRESS", "Modbus Address", 1, access=11, min=1, max=247),
        R(126, "DB_MODBUS_BAUD", "Baud Rate", 1, tt="BAUD", access=1),
        R(127, "DB_MODBUS_PARITY", "Parity", 1, tt="PARITY", access=1),
    ]),
    dict(main="Network", nameindex="network", title="Ethernet", registers=[
        R(101, "DB_IP1", "Port 1 IP Address", 7, access=7),
        R(103, "DB_MASK1", "Port 1 Subnet Mask", 7, access=7),
        R(105, "DB_GATEWAY1", "Port 1 Gateway", 7, access=7),
        R(107, "DB_MAC1", "Port 1 MAC Address", 9, access=9),
        R(110, "DB_IP2", "Port 2 IP Address", 7, access=7, since=270),
        R(112, "DB_MASK2", "Port 2 Subnet Mask", 7, access=7, since=270),
        R(114, "DB_GATEWAY2", "Port 2 Gateway", 7, access=7, since=270),
        R(116, "DB_MAC2", "Port 2 MAC Address", 9, access=9, since=270),
    ]),
    dict(main="SNTP", nameindex="sntp settings", title="Time Synchronisation (SNTP)", since=230, registers=[
        R(163, "DB_SNTP_ENABLE", "SNTP", 1, tt="ENABLE", access=1),
        R(160, "DB_SNTP_SERVER", "SNTP Server", 7, access=7),
        R(162, "DB_UTC_OFFSET", "UTC Offset (h:m)", 16, access=16),
        R(164, "DB_SNTP_INTERVAL", "Poll Interval (s)", 1, access=11, min=16, max=3600),
    ]),
    dict(main="DeviceNet", nameindex="devicenet", title="DeviceNet Port", display=False, registers=[
        R(120, "DB_DN_MACID", "MAC ID", 1, access=1),
        R(121, "DB_DN_BAUD", "Baud Rate", 1, tt="DNBAUD", access=1),
    ]),
    # The event reader shows these in S_ORDER as date, time, current, voltage, resistance change,
    # trip status and setpoint status (registers 63..71 hold the record chosen in register 62).
    dict(main="Events", nameindex="events", title="Event Record", display=False, registers=[
        R(63, "DB_EVENT_DATE", "Date (D/M/Y)", 3),
        R(65, "DB_EVENT_TIME", "Time", 4),
        R(67, "DB_EVENT_CURRENT", "{NGR} Current (% FS)", 1),
        R(68, "DB_EVENT_VOLTAGE", "{NGR} Voltage (% Setting)", 1),
        R(69, "DB_EVENT_DELTAOHMS", "Resistance Change (ohms)", 6),
        R(70, "DB_EVENT_TRIP", "Trip Status", 1),
        R(71, "DB_EVENT_SETPOINT", "Setpoint Status", 1),
    ]),
]


def per_family(value, family):
    return value[family] if isinstance(value, dict) else value


def present(item, family, version):
    return version >= item.get("since", 0) and family in item.get("families", ALL)


def build_rows(family, version):
    rows = []
    lists_used = set()
    dep_lists_used = set()
    groups = [g for g in GROUPS if present(g, family, version)]
    for order, group in enumerate(groups):
        main = say(group["main"], family)
        s_order = 0
        for reg in group["registers"]:
            if not present(reg, family, version):
                continue
            if reg.get("hidden"):
                s = HIDDEN
            else:
                s_order += 1
                s = s_order
            tt = per_family(reg.get("tt", "0"), family)
            if tt != "0":
                lists_used.add(tt)
                if tt == "VNLVL":
                    lists_used.add("VNLVL2")
            row = {
                "GROUP": main,
                "REGISTER": reg["reg"],
                "LABEL": reg["label"],
                "SETTING": say(per_family(reg["setting"], family), family),
                "TYPE": reg["type"],
                "TRANSLATIONTYPE": tt,
                "ACCESS": reg.get("access", 0),
                "MIN": reg.get("min"),
                "MAX": reg.get("max"),
                "S_ORDER": s,
                "ESSENTIAL": "YES" if reg.get("essential") and version >= 300 else None,
                "G_ORDER": order,
                "MAIN": main,
                "NAMEINDEX": group["nameindex"],
                "TITLE": say(group["title"], family),
                "DISPLAY": "YES" if group.get("display", True) else "NO",
                "WARNING": say(reg["warning"], family) if "warning" in reg else None,
            }
            if "dep" in reg:
                row["DEPENDENCY"] = reg["dep"]
                row["D_TYPE"] = reg["d_type"]
                if "d_list" in reg:
                    row["D_LIST"] = reg["d_list"]
                    dep_lists_used.add(reg["d_list"])
            rows.append(row)
    for name in sorted(lists_used):
        for index, text in VALUE_LISTS[name](family, version):
            rows.append({"TRANSLATIONTYPE": name, "TRANSLATIONINDEX": index, "TRANSLATIONTEXT": text,
                         "G_ORDER": NO_GROUP})
    for name in sorted(dep_lists_used):
        for value, text, lo, hi in DEPENDENCY_LISTS[name](family, version):
            rows.append({"D_LIST": name, "D_VALUE": value, "D_TEXT": text, "MIN": lo, "MAX": hi,
                         "G_ORDER": NO_GROUP})
    return rows


def render(family, version):
    columns = [c for c in COLUMNS if version >= COLUMNS_SINCE.get(c[0], 0)]
    names = {c[0] for c in columns}
    out = ['<?xml version="1.0" encoding="UTF-8" standalone="yes"?>',
           "<!-- Generated by scripts/gen_register_files.py: change the generator, not this file. -->",
           '<DATAPACKET Version="2.0">',
           "<METADATA>",
           "<FIELDS>"]
    for name, ftype, width in columns:
        w = f' WIDTH="{width}"' if width else ""
        out.append(f'<FIELD attrname="{name}" fieldtype="{ftype}"{w}/>')
    out += ["</FIELDS>", '<PARAMS CHANGE_LOG=""/>', "</METADATA>", "<ROWDATA>"]
    for row in build_rows(family, version):
        attrs = []
        for name, _, _ in columns:
            value = row.get(name)
            if value is None or value == "":
                continue
            attrs.append(f"{name}={quoteattr(str(value))}")
        for name in row:
            # TITLE and WARNING texts are simply absent from files older than those columns.
            if name not in names and name not in COLUMNS_SINCE and row[name] not in (None, ""):
                raise SystemExit(f"{family or 'KT-740'} {version}: no column {name}")
        out.append("<ROW " + " ".join(attrs) + "/>")
    out += ["</ROWDATA>", "</DATAPACKET>", ""]
    return "\n".join(out)


def targets():
    for family, versions in VERSIONS.items():
        for version in versions:
            yield RESOURCES / f"registers{family}_{version}.xml", render(family, version)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--check", action="store_true", help="compare instead of writing")
    args = parser.parse_args()
    wanted = dict(targets())
    if args.check:
        stale = []
        for path, text in wanted.items():
            if not path.exists() or path.read_text(encoding="utf-8") != text:
                stale.append(path.name)
        for path in RESOURCES.glob("registers*_*.xml"):
            if path not in wanted:
                stale.append(path.name + " (not generated)")
        if stale:
            print("register files out of date with scripts/gen_register_files.py: " + ", ".join(sorted(stale)),
                  file=sys.stderr)
            return 1
        return 0
    for path, text in wanted.items():
        path.write_text(text, encoding="utf-8")
    return 0


if __name__ == "__main__":
    sys.exit(main())
