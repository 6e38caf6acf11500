// The radio between module models: who hears a frame, when, and what a
// frame is; then modules on virtual serial lines of one world, as the
// program meets them.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/os.h"
#include "platform/virtual/world.h"
#include "sim/module.h"
#include "sim/presets.h"
#include "sim/radio.h"
#include "tests/support/module_peer.h"
#include "tests/support/virtual_serial.h"

namespace {

constexpr sim::TimeUs kMs = 1000;
constexpr sim::TimeUs kByte = 1042;  // 9600 baud, 8-N-1
constexpr sim::TimeUs kLatency = 10 * kMs;
const std::string kDigits = "0123456789abcdef\r";
const std::string kLetters = "abcdefghijklmnop\r";

// What one module sent out of its serial port, and when.
struct Heard {
  sim::TimeUs at;
  std::string bytes;
};

class RadioBench : public ::testing::Test {
 protected:
  sim::Module& add(sim::ModuleConfig config) {
    modules_.push_back(std::make_unique<sim::Module>(std::move(config)));
    heard_.emplace_back();
    radio.attach(*modules_.back());
    return *modules_.back();
  }

  // Writes text into a module a byte time apart from `at`; returns the
  // time of the last byte.
  sim::TimeUs write(sim::Module& m, sim::TimeUs at, const std::string& text) {
    for (char c : text) {
      at += kByte;
      m.receive(at, static_cast<uint8_t>(c));
    }
    return at;
  }

  // Moves every module through its wake-ups up to `until`.
  void run(sim::TimeUs until) {
    for (;;) {
      std::optional<sim::TimeUs> next;
      for (const auto& m : modules_) {
        auto w = m->nextWake();
        if (w && (!next || *w < *next))
          next = w;
      }
      if (!next || *next > until)
        break;
      step(*next);
    }
    step(until);
  }

  std::string heardBy(const sim::Module& m) const {
    std::string all;
    for (const Heard& h : heard_[indexOf(m)])
      all += h.bytes;
    return all;
  }
  const std::vector<Heard>& chunks(const sim::Module& m) const { return heard_[indexOf(m)]; }

  sim::Radio radio{sim::RadioConfig{kLatency}};

 private:
  void step(sim::TimeUs t) {
    for (size_t i = 0; i < modules_.size(); ++i) {
      modules_[i]->advance(t);
      if (std::string out = modules_[i]->takeOutput(); !out.empty())
        heard_[i].push_back({t, out});
    }
  }
  size_t indexOf(const sim::Module& m) const {
    for (size_t i = 0; i < modules_.size(); ++i) {
      if (modules_[i].get() == &m)
        return i;
    }
    ADD_FAILURE() << "not on the bench";
    return 0;
  }

  std::vector<std::unique_ptr<sim::Module>> modules_;
  std::vector<std::vector<Heard>> heard_;
};

// ---------------------------------------------------------------- who hears it

TEST_F(RadioBench, PresetPairHearsEachOtherAndNobodyElse) {
  sim::Module& master = add(sim::presets::master());
  sim::Module& slave = add(sim::presets::slave());
  sim::ModuleConfig other = sim::presets::slave();
  other.registers["SL"] = 0x40B0A0FF;  // same network, another serial number
  sim::Module& bystander = add(other);

  write(master, 100 * kMs, kDigits);
  write(slave, 300 * kMs, kLetters);
  run(1000 * kMs);
  EXPECT_EQ(heardBy(slave), kDigits);
  EXPECT_EQ(heardBy(master), kLetters);
  EXPECT_EQ(heardBy(bystander), "");
  EXPECT_EQ(radio.counts().sent, 2u);
  EXPECT_EQ(radio.counts().arrivals, 2u);
}

TEST_F(RadioBench, ReceiverNeedsTheSenderPanIdAndChannel) {
  sim::Module& master = add(sim::presets::master());
  sim::Module& otherPan = add(sim::presets::slaveWithOtherPanId());
  sim::TimeUs t = write(master, 100 * kMs, kDigits);
  run(t + 100 * kMs);
  EXPECT_EQ(heardBy(otherPan), "");

  otherPan.setReg("ID", master.reg("ID"));
  otherPan.setReg("SC", 0x20);  // channel 16
  t = write(master, t + 100 * kMs, kDigits);
  run(t + 100 * kMs);
  EXPECT_EQ(heardBy(otherPan), "") << "another channel";

  otherPan.setReg("SC", 0x0110);  // lowest bit: channel 15 again
  t = write(master, t + 100 * kMs, kDigits);
  run(t + 100 * kMs);
  EXPECT_EQ(heardBy(otherPan), kDigits);
}

TEST_F(RadioBench, WrongDestinationReachesNobody) {
  sim::Module& master = add(sim::presets::master());
  sim::Module& slave = add(sim::presets::slaveWithWrongDestination());
  const sim::TimeUs t = write(slave, 100 * kMs, kLetters);
  run(t + 100 * kMs);
  EXPECT_EQ(heardBy(master), "");
  EXPECT_EQ(radio.counts().sent, 1u);
  EXPECT_EQ(radio.counts().arrivals, 0u);
}

// ---------------------------------------------------------------- when, and what a frame is

TEST_F(RadioBench, LineArrivesTheLatencyAfterItsCarriageReturn) {
  sim::Module& master = add(sim::presets::master());
  sim::Module& slave = add(sim::presets::slave());
  const sim::TimeUs cr = write(master, 100 * kMs, kDigits);
  run(cr + kLatency - 1);
  EXPECT_EQ(heardBy(slave), "");
  run(cr + 100 * kMs);
  ASSERT_EQ(chunks(slave).size(), 1u) << "one frame, sent out at once";
  EXPECT_EQ(chunks(slave)[0].at, cr + kLatency);
  EXPECT_EQ(chunks(slave)[0].bytes, kDigits);
}

TEST_F(RadioBench, FrameEndsAtAGapOrAtItsSizeLimit) {
  sim::ModuleConfig small = sim::presets::master();
  small.maxFrameBytes = 8;
  sim::Module& master = add(small);
  sim::Module& slave = add(sim::presets::slave());

  sim::TimeUs last = write(master, 100 * kMs, "abc");
  run(last + 500 * kMs);
  ASSERT_EQ(chunks(slave).size(), 1u);
  EXPECT_EQ(chunks(slave)[0].bytes, "abc");
  EXPECT_EQ(chunks(slave)[0].at, last + 3 * kByte + kLatency) << "three byte times of silence";

  const sim::TimeUs start = last + 500 * kMs;
  last = write(master, start, "0123456789");
  run(last + 500 * kMs);
  ASSERT_EQ(chunks(slave).size(), 3u);
  EXPECT_EQ(chunks(slave)[1].bytes, "01234567");
  EXPECT_EQ(chunks(slave)[1].at, start + 8 * kByte + kLatency) << "full at the 8th byte";
  EXPECT_EQ(chunks(slave)[2].bytes, "89");
  EXPECT_EQ(radio.counts().sent, 3u);
}

TEST_F(RadioBench, PlusesThatMakeNoEscapeTravelAsData) {
  sim::Module& master = add(sim::presets::master());
  sim::Module& slave = add(sim::presets::slave());
  // Followed by a byte within the guard time.
  sim::TimeUs t = write(master, 3000 * kMs, "+++");
  t = write(master, t + 200 * kMs, "A\r");
  run(t + 2000 * kMs);
  EXPECT_EQ(heardBy(slave), "+++A\r");
  // Two pluses and silence: sent when the guard time has passed.
  t = write(master, t + 3000 * kMs, "++");
  run(t + 999 * kMs);
  EXPECT_EQ(heardBy(slave), "+++A\r");
  run(t + 2000 * kMs);
  EXPECT_EQ(heardBy(slave), "+++A\r++");
  EXPECT_FALSE(master.inCommandMode());
}

// ---------------------------------------------------------------- losses and damage

TEST_F(RadioBench, DroppedAndCutFramesAreLost) {
  sim::Module& master = add(sim::presets::master());
  sim::Module& slave = add(sim::presets::slave());
  radio.faults.dropNext = 1;
  sim::TimeUs t = write(master, 100 * kMs, kDigits);
  t = write(master, t + 50 * kMs, kLetters);
  run(t + 100 * kMs);
  EXPECT_EQ(heardBy(slave), kLetters) << "only the first was dropped";

  radio.faults.cut = true;
  t = write(master, t + 200 * kMs, kDigits);
  t = write(slave, t + 50 * kMs, kDigits);
  run(t + 100 * kMs);
  EXPECT_EQ(heardBy(slave), kLetters);
  EXPECT_EQ(heardBy(master), "");
  radio.faults.cut = false;
  t = write(master, t + 200 * kMs, kDigits);
  run(t + 100 * kMs);
  EXPECT_EQ(heardBy(slave), kLetters + kDigits);
  EXPECT_EQ(radio.counts().lost, 3u);
}

TEST_F(RadioBench, CorruptedFrameDiffersInOneByte) {
  sim::Module& master = add(sim::presets::master());
  sim::Module& slave = add(sim::presets::slave());
  radio.faults.corruptNext = 1;
  sim::TimeUs t = write(master, 100 * kMs, kDigits);
  run(t + 100 * kMs);
  const std::string damaged = heardBy(slave);
  ASSERT_EQ(damaged.size(), kDigits.size());
  int differing = 0;
  for (size_t i = 0; i < damaged.size(); ++i)
    differing += damaged[i] != kDigits[i];
  EXPECT_EQ(differing, 1);
  t = write(master, t + 200 * kMs, kDigits);
  run(t + 100 * kMs);
  EXPECT_EQ(heardBy(slave), damaged + kDigits) << "the next one is whole";
  EXPECT_EQ(radio.counts().corrupted, 1u);
}

// ---------------------------------------------------------------- the receiver's state

TEST_F(RadioBench, ReceiverInCommandModeHoldsDataUntilItLeaves) {
  sim::Module& master = add(sim::presets::master());
  sim::Module& slave = add(sim::presets::slave());
  sim::TimeUs t = write(slave, 3000 * kMs, "+++");
  run(t + 1100 * kMs);
  ASSERT_EQ(heardBy(slave), "OK\r");
  t = write(master, t + 1100 * kMs, kDigits);
  run(t + 1000 * kMs);
  EXPECT_EQ(heardBy(slave), "OK\r") << "nothing between command replies";
  t = write(slave, t + 1000 * kMs, "ATCN\r");
  run(t + 100 * kMs);
  EXPECT_EQ(heardBy(slave), "OK\rOK\r" + kDigits);
}

TEST_F(RadioBench, HeldDataIsBoundedByTheReceiveBuffer) {
  sim::Module& master = add(sim::presets::master());
  sim::ModuleConfig small = sim::presets::slave();
  small.receiveBufferBytes = 40;
  sim::Module& slave = add(small);
  sim::TimeUs t = write(slave, 3000 * kMs, "+++");
  run(t + 1100 * kMs);
  t += 1100 * kMs;
  for (const std::string& line : {kDigits, kLetters, kDigits})
    t = write(master, t + 50 * kMs, line);
  t = write(slave, t + 100 * kMs, "ATCN\r");
  run(t + 100 * kMs);
  EXPECT_EQ(heardBy(slave), "OK\rOK\r" + kDigits + kLetters) << "the third did not fit";
}

TEST_F(RadioBench, SleepingReceiverPassesDataOnAtItsNextPoll) {
  sim::Module& master = add(sim::presets::master());
  sim::Module& slave = add(sim::presets::sleepingSlave());  // asleep from 2 s, polls every 100 ms
  const sim::TimeUs cr = write(master, 5050 * kMs, kDigits);
  const sim::TimeUs arrival = cr + kLatency;
  const sim::TimeUs poll = 2000 * kMs + (arrival - 2000 * kMs + 99999) / 100000 * 100000;
  run(poll - 1);
  EXPECT_EQ(heardBy(slave), "");
  EXPECT_FALSE(slave.cts(poll - 1));
  run(poll + 100 * kMs);
  ASSERT_EQ(chunks(slave).size(), 1u);
  EXPECT_EQ(chunks(slave)[0].at, poll);
  EXPECT_TRUE(slave.cts(poll + 1000 * kMs)) << "its output is traffic";
}

TEST(RadioLifetime, ModulesAndRadiosMayGoInEitherOrder) {
  sim::Radio outer;
  auto master = std::make_unique<sim::Module>(sim::presets::master());
  {
    sim::Radio local;
    sim::Module slave(sim::presets::slave());
    local.attach(*master);
    local.attach(slave);
    outer.attach(*master);  // moves it
    master->receive(100 * kMs, '\r');
    EXPECT_EQ(local.counts().sent, 0u);
    EXPECT_EQ(outer.counts().sent, 1u);
    EXPECT_EQ(outer.counts().arrivals, 0u) << "the slave is on the other radio";
    local.attach(*master);
  }  // the slave goes, then the radio the master is on
  master->receive(200 * kMs, '\r');
  EXPECT_EQ(outer.counts().sent, 1u) << "the master left this radio";
  sim::Module late(sim::presets::slave());
  outer.attach(late);
  outer.attach(*master);
  master.reset();  // a module goes before its radio
  late.receive(300 * kMs, '\r');
  EXPECT_EQ(outer.counts().sent, 2u);
  EXPECT_EQ(outer.counts().arrivals, 0u);
}

// ---------------------------------------------------------------- on virtual lines

bool ctsUp(os::Handle h) {
  uint32_t status = 0;
  EXPECT_TRUE(os::getModemStatus(h, status));
  return (status & os::kModemCtsOn) != 0;
}

TEST(ModulesOnVirtualLines, LinesCrossTheRadioBothWaysAtEachModuleSettings) {
  vw::World world;
  sim::Radio radio;
  sim::Module master(sim::presets::master());
  sim::ModuleConfig fast = sim::presets::slave();
  fast.registers["BD"] = 5;  // 38400
  sim::Module slave(fast);
  radio.attach(master);
  radio.attach(slave);
  ModulePeer masterPeer(master), slavePeer(slave);
  world.addSerialPort("COM1", &masterPeer);
  world.addSerialPort("COM2", &slavePeer);
  os::Handle m = openCom("COM1");
  os::Handle s = openCom("COM2");
  ASSERT_NE(m, nullptr);
  ASSERT_NE(s, nullptr);
  setLine(m, 9600);
  setLine(s, 38400);

  writeAll(m, kDigits);
  EXPECT_EQ(readSome(s, 17, 1000), kDigits);
  writeAll(s, kLetters);
  EXPECT_EQ(readSome(m, 17, 1000), kLetters);
  // A host at a quarter of its module's rate reads fewer bytes, and wrong ones.
  setLine(s, 9600);
  writeAll(m, kDigits);
  const std::string garbled = readSome(s, 17, 1000);
  EXPECT_LT(garbled.size(), 17u);
  EXPECT_EQ(garbled.find("0123"), std::string::npos);
  os::closeHandle(m);
  os::closeHandle(s);
  EXPECT_EQ(world.openHandles(), 0);
}

TEST(ModulesOnVirtualLines, SleepingModuleRaisesCtsUnderABreakAndTakesAnEscape) {
  vw::World world;
  sim::Module slave(sim::presets::sleepingSlave());
  ModulePeer peer(slave);
  world.addSerialPort("COM2", &peer);
  os::Handle h = openCom("COM2");
  setLine(h, 9600);
  os::sleepMs(5000);
  EXPECT_FALSE(ctsUp(h)) << "asleep";
  ASSERT_TRUE(os::setBreak(h));
  os::sleepMs(1);
  EXPECT_FALSE(ctsUp(h)) << "still waking";
  os::sleepMs(5);
  EXPECT_TRUE(ctsUp(h));
  ASSERT_TRUE(os::clearBreak(h));
  os::sleepMs(1120);
  writeAll(h, "+++");
  EXPECT_EQ(readSome(h, 3, 1200), "OK\r");
  os::sleepMs(9000);
  EXPECT_TRUE(ctsUp(h)) << "awake in command mode";
  os::closeHandle(h);
}

TEST(ModulesOnVirtualLines, ResetKeyUnderBreakAnswersTheSettingsQueries) {
  vw::World world;
  sim::ModuleConfig config = sim::presets::master();
  config.registers["BD"] = 5;
  config.registers["NB"] = 2;  // odd parity
  sim::Module module(config);
  ModulePeer peer(module);
  world.addSerialPort("COM5", &peer);
  os::Handle h = openCom("COM5");
  setLine(h, 38400);
  ASSERT_TRUE(os::setBreak(h));
  world.at(vw::ms(700), [&module, &world] { module.pressResetKey(world.now()); });
  EXPECT_EQ(readSome(h, 1, 1200).size(), 1u) << "a byte while the break is held";
  EXPECT_LE(world.now(), vw::ms(800));
  os::sleepMs(5);  // the rest of what a 38400 receiver makes of one byte at 9600
  ASSERT_TRUE(os::clearBreak(h));
  setLine(h, 9600);
  ASSERT_TRUE(os::purgeSerial(h, os::kPurgeAll));
  writeAll(h, "ATBD\r");
  EXPECT_EQ(readSome(h, 2, 1200), "5\r");
  writeAll(h, "ATNB\r");
  EXPECT_EQ(readSome(h, 2, 1200), "2\r");
  writeAll(h, "ATCN\r");
  EXPECT_EQ(readSome(h, 3, 1200), "OK\r");
  // Now at its stored settings, in transparent mode.
  setLine(h, 38400, os::kOddParity);
  os::sleepMs(1200);
  writeAll(h, "+++");
  EXPECT_EQ(readSome(h, 3, 1200), "OK\r");
  os::closeHandle(h);
}

}  // namespace
