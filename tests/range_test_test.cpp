// The range test's counts and times over the model's radio, in virtual time.
#include "module/range_test.h"

#include <cmath>
#include <set>

#include "link/line_log.h"
#include "tests/support/pane_fixture.h"

namespace {

class RangeTest : public PaneTest {
 protected:
  RangeResult runRange(RangeWay way, uint32_t count, uint32_t size = kRangeDefaultSize) {
    RangeResult r;
    runPaneRangeTest({way, count, size}, &r);
    EXPECT_EQ(masterPane.session.port, nullptr);
    EXPECT_EQ(slavePane.session.port, nullptr);
    for (uint32_t i = 0; i < r.directionCount; ++i) {
      const RangeDirection& d = r.directions[i];
      EXPECT_EQ(d.sent, d.received + d.lost) << "direction " << i;
      EXPECT_LE(d.corrupted, d.lost);
    }
    return r;
  }
};

TEST_F(RangeTest, CleanRadioReceivesAllAtTheFloorsPace) {
  const vw::TimeUs start = world.now();
  const RangeResult r = runRange(RangeWay::BothHere, 100);
  ASSERT_EQ(r.code, 0);
  ASSERT_EQ(r.directionCount, 2u);
  EXPECT_EQ(r.directions[0].fromPort, 3u);
  EXPECT_EQ(r.directions[1].fromPort, 4u);
  for (const RangeDirection& d : r.directions) {
    EXPECT_EQ(d.received, 100u);
    EXPECT_EQ(d.late + d.duplicated, 0u);
  }
  // The floor: 32 bytes on both lines at 9600 8-N-1 and 3 ms of radio, 200 times.
  EXPECT_LE(nowMs() - start / 1000.0, 1.1 * 200 * (2 * 32 * 1.0417 + 3));
  EXPECT_FALSE(r.hasRoundTrip);
  EXPECT_EQ(master->commandLog().size() + slave->commandLog().size(), 0u) << "no AT command";
}

// Each packet is one frame, so the radio's own tally is the truth.
TEST_F(RangeTest, DrawnLossAndCorruptionAreToldApart) {
  radio.seed(7);
  radio.faults.lossPercentFrom[master.get()] = 20;
  radio.faults.corruptPercent = 10;
  const RangeResult r = runRange(RangeWay::BothHere, 200);
  ASSERT_EQ(r.code, 0);
  const RangeDirection& out = r.directions[0];
  const RangeDirection& back = r.directions[1];
  // Three standard deviations of the binomial around each rate.
  EXPECT_NEAR(out.lost - out.corrupted, 0.2 * 200, 3 * std::sqrt(200 * 0.2 * 0.8));
  EXPECT_NEAR(back.corrupted + out.corrupted, 0.1 * (400 - (out.lost - out.corrupted)),
              3 * std::sqrt(360 * 0.1 * 0.9));
  EXPECT_EQ(back.lost, back.corrupted) << "the slave's way loses nothing";
  EXPECT_EQ(out.lost + back.lost, radio.counts().lost + radio.counts().corrupted);
  EXPECT_EQ(out.corrupted + back.corrupted, radio.counts().corrupted);
}

TEST_F(RangeTest, APacketPastItsWaitIsReceivedAndCountedLateADuplicateIsNot) {
  // Past the 168 ms wait, as a PC too busy to look sees it: each packet
  // shows up in the next one's wait, the last in the drain after them.
  radio.faults.delayUs = vw::ms(150);
  RangeResult r = runRange(RangeWay::BothHere, 4);
  EXPECT_EQ(r.directions[0].received, 4u);
  EXPECT_EQ(r.directions[0].lost, 0u);
  EXPECT_EQ(r.directions[0].late, 4u);
  EXPECT_GT(r.directions[0].lateMaxMs, 168u);
  EXPECT_LT(r.directions[0].lateMaxMs, 1000u);

  // After the run's end and its drain window it is lost after all.
  radio.faults.delayUs = vw::ms(3000);
  r = runRange(RangeWay::BothHere, 2);
  EXPECT_EQ(r.directions[0].received + r.directions[1].received, 0u);
  EXPECT_EQ(r.directions[0].lost + r.directions[1].lost, 4u);
  os::sleepMs(5000);

  radio.faults.delayUs = 0;
  char copy[kRangeDefaultSize];
  makeRangePacket(0, kRangeDefaultSize, copy);
  slave->inject(world.now() + vw::ms(150), std::string(copy, sizeof copy));  // in packet 1's wait
  r = runRange(RangeWay::BothHere, 3);
  EXPECT_EQ(r.directions[0].received, 3u);
  EXPECT_EQ(r.directions[0].duplicated, 1u);
}

// A radio (or a PC) as slow as the slowest packet yet received may bring
// the next one slower still: the drain window grows with what was seen.
TEST_F(RangeTest, TheDrainWindowGrowsWithTheSlowestPacketReceived) {
  radio.faults.delayUs = vw::ms(700);
  world.after(vw::ms(1500), [this] { radio.faults.delayUs = vw::ms(1300); });
  const RangeResult r = runRange(RangeWay::BothHere, 6);
  for (uint32_t i = 0; i < r.directionCount; ++i) {
    EXPECT_EQ(r.directions[i].received, 6u) << "direction " << i;
    EXPECT_GT(r.directions[i].lateMaxMs, 1000u) << "direction " << i;
  }
}

// In power save the slave's radio sleeps too: the first packet to it would
// wait for its next poll and pass for lost, unless the run wakes it first.
TEST_F(RangeTest, ASleepingSlaveIsWokenBeforeThePacketsAreCounted) {
  auto sleeper = slaveConfig();
  sleeper.registers["SM"] = 4;
  sleeper.sleepPeriodUs = 1000000;
  makeModules(masterConfig(), sleeper);
  os::sleepMs(5000);
  ASSERT_FALSE(slave->awake(world.now()));
  const RangeResult r = runRange(RangeWay::BothHere, 5);
  EXPECT_EQ(r.directions[0].received, 5u);
  EXPECT_EQ(r.directions[0].late, 0u);
}

TEST_F(RangeTest, LoopbackTimesTheRoundTrip) {
  slave->setLoopback(true);
  radio.faults.delayUs = vw::ms(20);
  const RangeResult r = runRange(RangeWay::FarLoopback, 20);
  ASSERT_EQ(r.code, 0);
  ASSERT_EQ(r.directionCount, 1u);
  EXPECT_EQ(r.directions[0].toPort, 3u);
  EXPECT_EQ(r.directions[0].received, 20u);
  // Three line crossings of 32 bytes (the plug's wire is one) and two radio
  // hops of 3 + 20 ms.
  const double expected = 3 * 32 * 1.0417 + 2 * 23;
  ASSERT_TRUE(r.hasRoundTrip);
  EXPECT_NEAR(r.roundTripMinMs, expected, 2);
  EXPECT_NEAR(r.roundTripMaxMs, expected, 2);
  EXPECT_NEAR(r.roundTripMedianMs, expected, 2);
  EXPECT_TRUE(world.hostBytes("COM4").empty());
}

// A loopback plug left on the far module: the master's packets come back
// to the master's port while it waits for the slave's. They are echoes,
// which no direction receives, and the result says so.
TEST_F(RangeTest, PacketsBackAtTheirOwnPortAreEchoesOfNoDirection) {
  slave->setLoopback(true);
  LineLogBuffer log;
  setLineLogSink(&dialogLineLog, appendToLineLog, &log);
  const RangeResult r = runRange(RangeWay::BothHere, 20);
  setLineLogSink(&dialogLineLog, nullptr, nullptr);
  EXPECT_EQ(r.directions[1].received + r.directions[1].duplicated + r.directions[1].late, 0u)
      << "none from the far side";
  EXPECT_EQ(r.directions[0].received, 0u) << "its own packets are not the slave's";
  EXPECT_EQ(r.directions[0].echoed, 20u);
  EXPECT_TRUE(rangeFarModuleEchoes(r));
  EXPECT_NE(lineLogText(log).find("COM3 range packet 0 from slave lost in 1008 ms, 1 echoed"),
            std::string::npos)
      << lineLogText(log);
}

TEST_F(RangeTest, CutRadioReceivesNothingInBoundedTime) {
  radio.faults.cut = true;
  const RangeResult r = runRange(RangeWay::BothHere, 10);
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.directions[0].lost + r.directions[1].lost, 20u);
  // Each packet's wait, and a second for the last ones to come late.
  EXPECT_LE(r.durationMs, 20u * (34 + 34 + kRangeTurnaroundMs) + 1000 + 20);
}

TEST_F(RangeTest, CancelAtAnyInstantKeepsWhatWasMeasured) {
  radio.seed(3);
  radio.faults.lossPercent = 30;
  for (uint64_t at = 0; at < 900; at += 37) {
    prepareOperation(&masterPane);
    prepareOperation(&slavePane);
    const vw::TimeUs cancelAt = world.now() + vw::ms(at);
    world.at(cancelAt, [] {
      os::setEvent(masterPane.cancelEvent);
      os::setEvent(slavePane.cancelEvent);
    });
    // Both here for a count, and over the plug until stopped, in turns.
    slave->setLoopback(at % 2 == 0);
    const RangeResult r = at % 2 ? runRange(RangeWay::BothHere, 50)
                                 : runRange(RangeWay::FarLoopback, kRangeUntilStopped);
    EXPECT_EQ(r.code, ResultCancelled) << "cancelled after " << at << " ms";
    EXPECT_LE(world.now() - cancelAt, vw::ms(1)) << "stopped at once, after " << at << " ms";
    for (PaneRecord* p : {&masterPane, &slavePane}) {
      os::closeHandle(p->cancelEvent);
      p->cancelEvent = nullptr;
    }
  }
}

// A port that goes names itself; a cancel names none.
TEST_F(RangeTest, APortThatGoesIsTheOneNamed) {
  world.at(world.now() + vw::ms(300), [this] { world.removeSerialPort("COM4"); });
  const RangeResult r = runRange(RangeWay::BothHere, 50);
  EXPECT_NE(r.code, 0);
  EXPECT_NE(r.code, ResultCancelled);
  EXPECT_EQ(r.failedPort, 4u);
}

// Stopped with a packet in the air, then at once over the plug: that packet
// comes back during the next run and must not pass for its first one.
TEST_F(RangeTest, ARunRightAfterAStoppedOneCountsOnlyItsOwnPackets) {
  prepareOperation(&masterPane);
  prepareOperation(&slavePane);
  world.at(world.now() + vw::ms(250), [] { os::setEvent(masterPane.cancelEvent); });
  EXPECT_EQ(runRange(RangeWay::BothHere, 50).code, ResultCancelled);
  os::resetEvent(masterPane.cancelEvent);
  slave->setLoopback(true);
  const RangeResult r = runRange(RangeWay::FarLoopback, 10);
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.directions[0].received, 10u);
  EXPECT_EQ(r.directions[0].corrupted + r.directions[0].late, 0u);
}

TEST_F(RangeTest, EachPacketsFateReachesTheCallerAndTheLineLogOnce) {
  radio.faults.dropNext = 1;
  LineLogBuffer log;
  setLineLogSink(&dialogLineLog, appendToLineLog, &log);
  std::vector<RangePacket> seen;
  RangeResult r;
  runPaneRangeTest(
      {RangeWay::BothHere, 5, kRangeDefaultSize}, &r,
      [](void* context, const RangePacket& p, const RangeResult&) {
        static_cast<std::vector<RangePacket>*>(context)->push_back(p);
      },
      &seen);
  setLineLogSink(&dialogLineLog, nullptr, nullptr);
  ASSERT_EQ(seen.size(), 10u);
  std::set<uint32_t> packets;
  for (const RangePacket& p : seen) {
    packets.insert(p.direction * 10 + p.sequence);
    EXPECT_EQ(p.fate == PacketFate::Lost, p.direction == 0 && p.sequence == 0);
  }
  EXPECT_EQ(packets.size(), 10u) << "each packet once";
  const std::string text = lineLogText(log);
  EXPECT_NE(text.find("COM4 range packet 0 from master lost"), std::string::npos) << text;
  EXPECT_NE(text.find("COM3 range packet 4 from slave received"), std::string::npos);
  EXPECT_EQ(text.find("COM4 range packet 0", text.find("packet 0 from master") + 1),
            std::string::npos)
      << "one line each";
  EXPECT_EQ(text.find("COM3 > 0000"), std::string::npos) << "no byte lines for packets";
}

}  // namespace
