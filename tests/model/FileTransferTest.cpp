#include <gtest/gtest.h>

#include "support/BusHarness.h"
#include "support/FakeHost.h"

namespace korva {
namespace {

using test::BusHarness;

struct Request {
    int code;
    int index;
    int value;  // writes only
    int tick;
};

// What the device saw of one file, decoded.
std::vector<Request> FileRequests(const BusHarness& h, int type) {
    std::vector<Request> out;
    for (const auto& seen : h.emu.Requests()) {
        const BusPacket& p = seen.packet;
        Request r{p.code, 0, 0, static_cast<int>(seen.tick)};
        if (p.code == code::kRead)
            r.index = type == 5 ? static_cast<std::int16_t>((p.data[1] << 8) | p.data[2])
                                : static_cast<std::int8_t>(p.data[1]);
        if (p.code == code::kWrite) {
            r.index = type == 5 ? static_cast<std::int16_t>((p.data[2] << 8) | p.data[3])
                                : static_cast<std::int8_t>(p.data[3]);
            r.value = type == 5 ? p.data[1] : static_cast<std::int16_t>((p.data[1] << 8) | p.data[2]);
        }
        out.push_back(r);
    }
    return out;
}

std::vector<int> Indices(const std::vector<Request>& rs, int code) {
    std::vector<int> out;
    for (const Request& r : rs)
        if (r.code == code) out.push_back(r.index);
    return out;
}

TEST(FileTransfer, LoadReadsStatusSizeThenEveryElementOneAtATime) {
    BusHarness h;
    KDevice& d = h.AddDevice("Mixer", 0x32);
    KFileLink& recipe = h.AddFile(d, "Recipe", 4, 20, {10, -20, 30}, 3);
    h.emu.FindDevice(0x32)->latencyTicks = 3;
    h.emu.FindDevice(0x32)->files[0].status = 0x11;
    recipe.StartTransfer(TransferOp::Load);
    ASSERT_TRUE(h.RunUntil([&] { return recipe.Operation() == TransferOp::None; }, 200));
    const auto rs = FileRequests(h, 4);
    EXPECT_EQ(Indices(rs, code::kRead), (std::vector<int>{-3, -2, 0, 1, 2}));
    EXPECT_EQ(rs.size(), 5u);
    // Each request waits for the previous reply: latency 3, and the reply is taken on the next tick.
    for (std::size_t i = 1; i < rs.size(); ++i) EXPECT_GE(rs[i].tick - rs[i - 1].tick, 4) << i;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(recipe.ElementState(i), LinkState::KNOWN) << i;
    EXPECT_EQ(recipe.ElementValue(0), 10);
    EXPECT_EQ(recipe.ElementValue(1), -20);
    EXPECT_EQ(recipe.ElementValue(2), 30);
    EXPECT_EQ(recipe.size, 3);
    EXPECT_EQ(recipe.CurrentStep(), TransferStep::Idle);
    EXPECT_EQ(recipe.state, LinkState::KNOWN);
}

TEST(FileTransfer, SaveWritesEveryElementWithItsValue) {
    BusHarness h;
    KDevice& d = h.AddDevice("Mixer", 0x32);
    KFileLink& recipe = h.AddFile(d, "Recipe", 4, 20, {0, 0, 0}, 3);
    recipe.SetElement(0, 111, LinkState::KNOWN);
    recipe.SetElement(1, -2, LinkState::KNOWN);
    recipe.SetElement(2, 0x7FFF, LinkState::KNOWN);
    recipe.StartTransfer(TransferOp::Save);
    ASSERT_TRUE(h.RunUntil([&] { return recipe.Operation() == TransferOp::None; }, 200));
    const auto rs = FileRequests(h, 4);
    EXPECT_EQ(Indices(rs, code::kRead), (std::vector<int>{-3, -2}));
    EXPECT_EQ(Indices(rs, code::kWrite), (std::vector<int>{0, 1, 2}));
    ASSERT_EQ(rs.size(), 5u);
    EXPECT_EQ(rs[2].value, 111);
    EXPECT_EQ(rs[3].value, -2);
    EXPECT_EQ(rs[4].value, 0x7FFF);
    EXPECT_EQ(h.emu.FindDevice(0x32)->files[0].elements, (std::vector<std::int16_t>{111, -2, 0x7FFF}));
}

TEST(FileTransfer, CancelLetsTheCurrentReadFinishAndSendsNoMore) {
    BusHarness h;
    KDevice& d = h.AddDevice("Mixer", 0x32);
    KFileLink& recipe = h.AddFile(d, "Recipe", 4, 20, {5, 6, 7, 8}, 4);
    h.emu.FindDevice(0x32)->latencyTicks = 5;
    recipe.StartTransfer(TransferOp::Load);
    ASSERT_TRUE(h.RunUntil([&] { return recipe.position == 1 && recipe.pending != nullptr; }, 200));
    recipe.CancelTransfer();  // the Cancel button
    h.Run(100);
    EXPECT_EQ(Indices(FileRequests(h, 4), code::kRead), (std::vector<int>{-3, -2, 0, 1}));
    EXPECT_EQ(recipe.ElementState(1), LinkState::KNOWN);
    EXPECT_EQ(recipe.ElementValue(1), 6);
    EXPECT_EQ(recipe.ElementState(2), LinkState::UNKNOWN);
    // A new load starts again from the beginning.
    recipe.StartTransfer(TransferOp::Load);
    ASSERT_TRUE(h.RunUntil([&] { return recipe.Operation() == TransferOp::None; }, 400));
    EXPECT_EQ(Indices(FileRequests(h, 4), code::kRead), (std::vector<int>{-3, -2, 0, 1, -3, -2, 0, 1, 2, 3}));
}

TEST(FileTransfer, FailuresRepeatTheSameStepUntilCancelled) {
    for (bool silent : {false, true}) {
        BusHarness h;
        KDevice& d = h.AddDevice("Mixer", 0x32);
        KFileLink& recipe = h.AddFile(d, "Recipe", 4, 20, {1, 2}, 2);
        sim::SimDevice& dev = *h.emu.FindDevice(0x32);
        recipe.StartTransfer(TransferOp::Load);
        h.Run(2);  // status, size and the first element are read
        (silent ? dev.silent : dev.refuseAll) = true;
        h.Run(1000);
        const auto reads = Indices(FileRequests(h, 4), code::kRead);
        ASSERT_GT(reads.size(), 8u) << silent;
        // Once the device fails, the same element is asked for again and again.
        for (std::size_t i = 4; i < reads.size(); ++i) EXPECT_EQ(reads[i], reads[3]) << silent << " " << i;
        recipe.CancelTransfer();
        h.Run(200);  // the request under way runs out
        const std::size_t after = h.emu.Requests().size();
        h.Run(1000);
        EXPECT_EQ(h.emu.Requests().size(), after) << silent;
        EXPECT_EQ(recipe.CurrentStep(), TransferStep::Idle) << silent;
        EXPECT_EQ(recipe.pending, nullptr) << silent;
    }
}

TEST(FileTransfer, SixteenBitIndexAndSpecialElements) {
    BusHarness h;
    KDevice& d = h.AddDevice("Logger", 0x22);
    KFileLink& history = h.AddFile(d, "History", 5, 30, {1, 2, -1, 4}, 4);
    history.ReadElement(-3);
    h.Step();
    ASSERT_EQ(h.emu.Requests().size(), 1u);
    const BusPacket& first = h.emu.Requests()[0].packet;
    EXPECT_EQ(first.length, 3);
    EXPECT_EQ(first.data[1], 0xFF);
    EXPECT_EQ(first.data[2], 0xFD);
    h.Step();
    EXPECT_EQ(history.state, LinkState::KNOWN);

    ASSERT_TRUE(history.ReadElement(2));
    h.Run(2);
    EXPECT_EQ(history.ElementValue(2), -1);  // FF FF
    EXPECT_EQ(history.ElementState(2), LinkState::KNOWN);
    ASSERT_TRUE(history.ReadElement(-1));
    h.Run(2);
    EXPECT_EQ(history.checksum, 6u);

    // Only the low byte travels on a 16-bit index: a wider value is refused, not cut.
    EXPECT_EQ(history.WriteElement(1, 0x1234), ElementFault::ValueTooWide);
    ASSERT_EQ(history.WriteElement(1, 200), ElementFault::None);
    h.Run(2);
    EXPECT_EQ(history.state, LinkState::KNOWN);
    EXPECT_EQ(h.emu.FindDevice(0x22)->files[0].elements[1], 200);
}

TEST(FileTransfer, DeviceSizeDecidesHowManyElementsMove) {
    struct Case {
        int configured;
        int onDevice;
        int forcedSize;  // -1: the real size
        int reads;       // element reads after status and size
    };
    const Case cases[] = {
        {2, 5, -1, 5},   // the arrays grow with the size the device reports
        {5, 2, -1, 2},   // fewer elements on the device
        {3, 3, 0, 0},    // an empty file moves nothing
        {3, 3, 200, 0},  // 200 is negative as a signed byte: nothing to move
    };
    for (const Case& c : cases) {
        BusHarness h;
        KDevice& d = h.AddDevice("Mixer", 0x32);
        std::vector<std::int16_t> elements;
        for (int i = 0; i < c.onDevice; ++i) elements.push_back(static_cast<std::int16_t>(100 + i));
        KFileLink& f = h.AddFile(d, "Recipe", 4, 20, elements, c.configured);
        h.emu.FindDevice(0x32)->forcedSize = c.forcedSize;
        f.StartTransfer(TransferOp::Load);
        ASSERT_TRUE(h.RunUntil([&] { return f.Operation() == TransferOp::None; }, 300)) << c.configured;
        const auto reads = Indices(FileRequests(h, 4), code::kRead);
        EXPECT_EQ(static_cast<int>(reads.size()), 2 + c.reads) << c.configured << "/" << c.onDevice;
        for (int i = 0; i < c.reads; ++i) EXPECT_EQ(f.ElementValue(i), 100 + i);
        EXPECT_GE(f.Capacity(), f.size);
    }
}

// Element 4 is read ('r') or written with 120 ('w'): a reply ends the request only when it answers
// it, and one for another element never passes for the current value; one for an element outside
// the file lands on none.
TEST(FileTransfer, RepliesEndOnlyTheRequestTheyAnswer) {
    struct Case {
        const char* what;
        int type;
        char pending;
        int code;
        std::vector<int> data;
        std::uint8_t state;
        int current = 77;
    };
    const Case cases[] = {
        {"ack of element 3 while 4 is written", 4, 'w', 0x7A, {20, 0, 120, 3}, LinkState::SET},
        {"16-bit index: ack of element 3", 5, 'w', 0x7A, {20, 120, 0, 3}, LinkState::SET},
        {"16-bit index: ack of element 4", 5, 'w', 0x7A, {20, 120, 0, 4}, LinkState::KNOWN},
        {"ack naming no element", 4, 'w', 0x7A, {20}, LinkState::KNOWN},
        {"refused read while 4 is written", 4, 'w', 0x8C, {20}, LinkState::SET},
        {"late size reply while 4 is read", 4, 'r', 0x8A, {20, 0, 8, 0xFE}, LinkState::GET},
        {"reply of element 4", 4, 'r', 0x8A, {20, 1, 44, 4}, LinkState::KNOWN, 300},
        {"reply of element 10, past the end", 4, 'r', 0x8A, {20, 0x12, 0x34, 10}, LinkState::GET},
        {"reply of element 127", 4, 'r', 0x8A, {20, 0x12, 0x34, 0x7F}, LinkState::GET},
        {"reply of element -11", 4, 'r', 0x8A, {20, 0x12, 0x34, 0xF5}, LinkState::GET},
        {"reply of element -128", 4, 'r', 0x8A, {20, 0x12, 0x34, 0x80}, LinkState::GET},
    };
    for (const Case& c : cases) {
        test::FakeHost host;
        Engine comms(host);
        KFileLink& f =
            comms.Model().MakeFileHandle(comms.Model().MakeDevice("Doser", 0x32), {"Recipe", c.type, 20}, 10);
        if (c.pending == 'w') f.WriteElement(4, 120);
        if (c.pending == 'r') f.ReadElement(4);
        f.current.StoreNumber(77);
        RequestSlot* slot = f.pending;
        ASSERT_NE(slot, nullptr) << c.what;
        comms.Line().Route(test::MakePacket({108, 0x32, c.code}, c.data));
        comms.Line().ProcessReceiveQueue();
        EXPECT_EQ(f.state, c.state) << c.what;
        EXPECT_EQ(f.pending, c.state == LinkState::KNOWN ? nullptr : slot) << c.what;
        EXPECT_EQ(f.current.ReadAsNumber(), c.current) << c.what;
        for (int i = 0; i < 10; ++i)
            if (i != 4) EXPECT_EQ(f.ElementValue(i), 0) << c.what << " element " << i;
    }
}

}  // namespace
}  // namespace korva
