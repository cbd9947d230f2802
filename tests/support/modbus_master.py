"""An independent Modbus master for the tests, built on pymodbus; one output line per operation.

usage: /usr/bin/python3 modbus_master.py LINK [--unit N] [--timeout SECONDS] OP...

LINK  tcp:HOST:PORT | rtu:DEVICE
OP    read:START:COUNT            function 3
      write:START:V1,V2,...       function 16
      coil:N:on|off               function 5
      write-single:REG:VALUE      function 6 (not one the KT-740 offers)
      diag                        function 8, sub-function 2 (not one the KT-740 offers)
      raw-read:START:COUNT        function 3 on an RTU line, framed and CRC-checked here byte by byte,
                                  so that a wrong CRC shows as such rather than as silence
      send-only:UNIT:START:COUNT  function 3 to another unit id on an RTU line, without waiting
      send-bytes:HEX              writes the bytes as they are (noise, broken frames), waits for nothing
      concurrent:N:START:COUNT    TCP: N connections open at once, each reads while all stay open
      reconnect                   closes the connection and opens it again
      sleep:MS

Each line: STATUS ms=ELAPSED [DETAIL], STATUS one of
      ok         DETAIL the values read (nothing for writes)
      exception  DETAIL the Modbus exception code
      crc-error  DETAIL the answer bytes in hex
      error      DETAIL what went wrong
"""

import logging
import struct
import sys
import time

logging.disable(logging.CRITICAL)

from pymodbus.client import ModbusSerialClient, ModbusTcpClient  # noqa: E402
from pymodbus.pdu import ExceptionResponse  # noqa: E402
from pymodbus.utilities import checkCRC, computeCRC  # noqa: E402


def make_client(link, timeout):
    kind, _, where = link.partition(":")
    if kind == "tcp":
        host, _, port = where.rpartition(":")
        return ModbusTcpClient(host.strip("[]"), port=int(port), timeout=timeout, retries=0)
    if kind == "rtu":
        # strict=False: no inter-character time-out, so that paced answers are read whole.
        return ModbusSerialClient(port=where, baudrate=115200, timeout=timeout, retries=0, strict=False)
    raise SystemExit(f"modbus_master: unknown link {link}")


def outcome(reply, values=True):
    if isinstance(reply, ExceptionResponse):
        return "exception", str(reply.exception_code)
    if reply is None or reply.isError():
        return "error", str(reply).replace("\n", " ")
    if values and hasattr(reply, "registers"):
        return "ok", " ".join(str(v) for v in reply.registers)
    return "ok", ""


def raw_read(client, unit, start, count):
    port = client.socket
    if port is None:
        return "error", "not connected"
    frame = bytes([unit, 3]) + struct.pack(">HH", start, count)
    frame += struct.pack(">H", computeCRC(frame))
    port.reset_input_buffer()
    port.write(frame)
    answer = port.read(5 + 2 * count)
    if len(answer) >= 5 and answer[1] & 0x80:
        answer = answer[:5]
    if len(answer) < 5:
        return "error", f"answer of {len(answer)} bytes"
    if not checkCRC(answer[:-2], int.from_bytes(answer[-2:], "big")):
        return "crc-error", answer.hex()
    if answer[1] & 0x80:
        return "exception", str(answer[2])
    data = answer[3:-2]
    return "ok", " ".join(str(v) for v in struct.unpack(f">{len(data) // 2}H", data))


def send_only(client, unit, start, count):
    frame = bytes([unit, 3]) + struct.pack(">HH", start, count)
    client.socket.write(frame + struct.pack(">H", computeCRC(frame)))
    client.socket.flush()
    return "ok", ""


def concurrent(link, timeout, unit, n, start, count):
    clients = [make_client(link, timeout) for _ in range(n)]
    try:
        if not all(c.connect() for c in clients):
            return "error", "a connection failed"
        values = []
        for i, c in enumerate(clients):
            status, detail = outcome(c.read_holding_registers(start, count, slave=unit))
            if status != "ok":
                return status, f"client {i}: {detail}"
            values.append(detail)
        return "ok", " ".join(values)
    finally:
        for c in clients:
            c.close()


def run(client, link, timeout, unit, op):
    name, *args = op.split(":")
    if name == "read":
        return outcome(client.read_holding_registers(int(args[0], 0), int(args[1], 0), slave=unit))
    if name == "write":
        values = [int(v, 0) for v in args[1].split(",")]
        return outcome(client.write_registers(int(args[0], 0), values, slave=unit), values=False)
    if name == "coil":
        return outcome(client.write_coil(int(args[0], 0), args[1] == "on", slave=unit), values=False)
    if name == "write-single":
        return outcome(client.write_register(int(args[0], 0), int(args[1], 0), slave=unit), values=False)
    if name == "diag":
        return outcome(client.diag_read_diagnostic_register(slave=unit), values=False)
    if name == "raw-read":
        return raw_read(client, unit, int(args[0], 0), int(args[1], 0))
    if name == "send-only":
        return send_only(client, *(int(a, 0) for a in args))
    if name == "send-bytes":
        data = bytes.fromhex(args[0])
        if hasattr(client.socket, "sendall"):
            client.socket.sendall(data)
        else:
            client.socket.write(data)
            client.socket.flush()
        return "ok", ""
    if name == "concurrent":
        return concurrent(link, timeout, unit, *(int(a, 0) for a in args))
    if name == "reconnect":
        client.close()
        return ("ok", "") if client.connect() else ("error", "connect failed")
    if name == "sleep":
        time.sleep(int(args[0]) / 1000)
        return "ok", ""
    raise SystemExit(f"modbus_master: unknown operation {op}")


def main(argv):
    if len(argv) < 2:
        raise SystemExit(__doc__)
    link, rest = argv[1], argv[2:]
    unit, timeout, ops = 254, 1, []
    while rest:
        word = rest.pop(0)
        if word == "--unit":
            unit = int(rest.pop(0), 0)
        elif word == "--timeout":
            timeout = int(rest.pop(0))  # pymodbus 3.0 keeps whole seconds only
        else:
            ops.append(word)
    client = make_client(link, timeout)
    connected = client.connect()
    for op in ops:
        began = time.monotonic()
        try:
            status, detail = run(client, link, timeout, unit, op) if connected or op == "reconnect" \
                else ("error", "connect failed")
            if op == "reconnect":
                connected = status == "ok"
        except Exception as e:  # the test reads the failure from the line
            status, detail = "error", f"{type(e).__name__}: {e}".replace("\n", " ")
        ms = (time.monotonic() - began) * 1000
        print(f"{status} ms={ms:.1f} {detail}".rstrip(), flush=True)
    client.close()


if __name__ == "__main__":
    main(sys.argv)
