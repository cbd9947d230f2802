// Cost of one link transfer, and whether it allocates: frames live in fixed buffers, so a
// transfer should not touch the heap.
#include "link/mbprotocol.h"
#include "link/modbus_frames.h"
#include "link/modbustcp.h"
#include "link/protocol.h"
#include "tests/link/pty_responder.h"
#include "tests/link/tcp_responder.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <new>

namespace {
// Per thread: the scripted units answer on threads of their own and allocate freely.
thread_local long allocations = 0;
} // namespace

void* operator new(std::size_t n) {
    ++allocations;
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

void BM_ModbusCrc(benchmark::State& state) {
    std::vector<uint8_t> frame(static_cast<size_t>(state.range(0)), 0x5A);
    for (auto _ : state) benchmark::DoNotOptimize(kt::modbusCrc(frame));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ModbusCrc)->Arg(8)->Arg(105)->Arg(255);

void BM_RtuRequestFrame(benchmark::State& state) {
    kt::FrameBuffer buf;
    std::array<uint16_t, 27> values{};
    for (auto _ : state) benchmark::DoNotOptimize(kt::rtuWriteRequest(buf, 254, 100, 27, values.data()));
}
BENCHMARK(BM_RtuRequestFrame);

// A facade read of `range(0)` registers over loopback TCP, lock and retry loop included.
void BM_FacadeTcpRead(benchmark::State& state) {
    kt::test::TcpResponder unit;
    kt::ConnectionSettings settings;
    settings.linkType = kt::LinkModbusTcp;
    settings.ipAddress = "127.0.0.1";
    settings.tcpPort = unit.port();
    kt::Protocol facade(settings);
    std::array<uint16_t, 125> dest{};
    const int count = static_cast<int>(state.range(0));
    facade.ReadRegisters(settings, 0, count, dest.data()); // connect outside the timing
    for (auto _ : state)
        if (!facade.ReadRegisters(settings, 0, count, dest.data())) state.SkipWithError("read failed");
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_FacadeTcpRead)->Arg(50)->Arg(125)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Heap allocations made by the calling thread during one transfer.
template <typename Transfer> void countAllocations(benchmark::State& state, Transfer transfer) {
    long made = 0;
    for (auto _ : state) {
        long before = allocations;
        if (!transfer()) state.SkipWithError("transfer failed");
        made += allocations - before;
    }
    state.counters["allocs/transfer"] = static_cast<double>(made) / static_cast<double>(state.iterations());
}

void BM_TcpTransfersAllocate(benchmark::State& state) {
    kt::test::TcpResponder unit;
    kt::ModbusTCP tcp("127.0.0.1", unit.port());
    std::array<uint16_t, 50> buf{};
    tcp.readHoldingRegisters(254, 0, 50, buf.data(), 0);
    uint16_t transaction = 0;
    countAllocations(state, [&] {
        return state.range(0) == 0 ? tcp.readHoldingRegisters(254, 0, 50, buf.data(), ++transaction)
                                   : tcp.writeMultipleRegisters(254, 0, 27, buf.data());
    });
}
BENCHMARK(BM_TcpTransfersAllocate)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->UseRealTime();

// An RTU read of 50 registers over a pty; the scripted unit ends a request on a 5 ms gap, so
// the figure is dominated by the responder, not by the transport.
void BM_RtuReadOverPty(benchmark::State& state) {
    kt::test::PtyResponder unit;
    kt::MBProtocol rtu(unit.path(), 115200);
    std::array<uint16_t, 50> dest{};
    rtu.readHoldingRegisters(254, 0, 50, dest.data(), 0);
    countAllocations(state, [&] { return rtu.readHoldingRegisters(254, 0, 50, dest.data(), 0); });
}
BENCHMARK(BM_RtuReadOverPty)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(100);

} // namespace
