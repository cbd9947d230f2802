"""An independent Modbus server for the tests, built on pymodbus 3.0 (Debian 12).

usage: /usr/bin/python3 modbus_server.py LINK [--unit N] [--set START=V1,V2,...]...

LINK  tcp:HOST:PORT (port 0 picks a free one) | rtu:DEVICE (115200 baud, 8-N-1)

Serves one unit (254 unless --unit says otherwise) with 1000 holding registers and 1000 coils,
all 0 except what --set puts there. Addresses are the ones on the wire (no +1 offset).

Standard output, one line each, flushed:
  listening tcp HOST:PORT | listening rtu DEVICE    once the server is ready
  fc=16 start=S count=N values=V1,...                a register write reached the data store
  fc=5 coil=C value=on|off                           a coil write reached the data store
Runs until SIGTERM or SIGINT.
"""

import asyncio
import logging
import signal
import sys

logging.disable(logging.CRITICAL)

from pymodbus.datastore import (  # noqa: E402
    ModbusSequentialDataBlock,
    ModbusServerContext,
    ModbusSlaveContext,
)
from pymodbus.framer.rtu_framer import ModbusRtuFramer  # noqa: E402
from pymodbus.server.async_io import ModbusSerialServer, ModbusTcpServer  # noqa: E402

SIZE = 1000


class LoggingSlave(ModbusSlaveContext):
    """Says on standard output what each write stored, so a test can check what arrived."""

    def setValues(self, fc_as_hex, address, values):  # noqa: N802 (pymodbus' name)
        super().setValues(fc_as_hex, address, values)
        if fc_as_hex in (5, 15):
            for i, v in enumerate(values):
                print(f"fc={fc_as_hex} coil={address + i} value={'on' if v else 'off'}", flush=True)
        else:
            text = ",".join(str(v) for v in values)
            print(f"fc={fc_as_hex} start={address} count={len(values)} values={text}", flush=True)


def parse(argv):
    if len(argv) < 2:
        raise SystemExit(__doc__)
    link, rest = argv[1], argv[2:]
    unit, registers = 254, [0] * SIZE
    while rest:
        word = rest.pop(0)
        if word == "--unit":
            unit = int(rest.pop(0), 0)
        elif word == "--set":
            start, _, values = rest.pop(0).partition("=")
            for i, v in enumerate(values.split(",")):
                registers[int(start, 0) + i] = int(v, 0)
        else:
            raise SystemExit(f"modbus_server: unknown argument {word}")
    return link, unit, registers


async def serve(link, context):
    kind, _, where = link.partition(":")
    if kind == "tcp":
        host, _, port = where.rpartition(":")
        server = ModbusTcpServer(context, address=(host, int(port)), allow_reuse_address=True)
        task = asyncio.create_task(server.serve_forever())
        await server.serving
        bound = server.server.sockets[0].getsockname()
        print(f"listening tcp {bound[0]}:{bound[1]}", flush=True)
    elif kind == "rtu":
        server = ModbusSerialServer(context, framer=ModbusRtuFramer, port=where, baudrate=115200)
        await server.start()
        if server.transport is None:
            raise SystemExit(f"modbus_server: cannot open {where}")
        task = None
        print(f"listening rtu {where}", flush=True)
    else:
        raise SystemExit(f"modbus_server: unknown link {link}")

    stop = asyncio.Event()
    loop = asyncio.get_running_loop()
    for s in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(s, stop.set)
    await stop.wait()
    await server.shutdown()
    if task:
        task.cancel()


def main(argv):
    link, unit, registers = parse(argv)
    slave = LoggingSlave(
        hr=ModbusSequentialDataBlock(0, registers),
        co=ModbusSequentialDataBlock(0, [False] * SIZE),
        zero_mode=True,
    )
    asyncio.run(serve(link, ModbusServerContext(slaves={unit: slave}, single=False)))


if __name__ == "__main__":
    main(sys.argv)
