#pragma once

// A controller wired to the device simulator, stepped by a manual clock:
// every step is 25 ms of exchange time, every fourth one a 100 ms tick. With
// real links the simulator serves a pty and a UDP socket and each step also
// gives real I/O a moment of real time; with model links the simulator's
// model answers behind the channel seam on the same manual clock, so tick
// counts are exact.

#include "controller.h"
#include "exchangestack.h"
#include "devicemodel.h"
#include "modellinks.h"
#include "ptypeer.h"
#include "server.h"
#include "tempdir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace parvault::testing {

using QueuePoster = PostQueue;

class RecordingDisplay : public ExchangeDisplay {
public:
    QString status, opticMark, portStatus, progressText;
    int progressPos = -1;
    std::vector<QString> statusHistory;
    void setStatusText(const QString& t) override {
        if (statusHistory.empty() || statusHistory.back() != t)
            statusHistory.push_back(t);
        status = t;
    }
    void setOpticMark(const QString& t) override { opticMark = t; }
    void setPortStatusText(const QString& t) override { portStatus = t; }
    void setProgressText(const QString& t) override { progressText = t; }
    void setProgressPos(int p) override { progressPos = p; }
    QString statusToolTip, portStatusToolTip;
    void setStatusToolTip(const QString& t) override { statusToolTip = t; }
    void setPortStatusToolTip(const QString& t) override { portStatusToolTip = t; }
};

struct RowSpec {
    int channel, param, index;
    int32_t kind;
    QString value = QString();
};

inline ParamRow MakeRow(const RowSpec& s) {
    ParamRow r;
    r.texts[ColCanal] = QString::asprintf("%3d", s.channel);
    r.texts[ColParam] = QString::asprintf("%4d", s.param);
    r.texts[ColIndex] = QString::asprintf("%3d", s.index);
    r.texts[ColValue] = s.value;
    r.kind = s.kind;
    return r;
}

constexpr int kPeerPort = 8;

enum class Links {
    Model, // the simulator's model on the manual clock
    Real,  // a pty and a UDP socket served by the simulator
};

// How a rig is made, each item named where it is given:
// Rig rig(params, {.device = config, .waits = AnswerWaits{...}}).
struct RigSetup {
    devsim::ServerOptions server = {};
    devsim::DeviceConfig device = {};
    UdpPauses udpPauses = {};
    Links links = Links::Real;
    AnswerWaits waits = {};
    Pacing pacing = {};
};

class Rig {
public:
    static constexpr int kPort = 7;

    explicit Rig(const QString& params, RigSetup setup = {})
        : model_(table(params), setup.device), server(model_, withPty(setup.server)),
          links(model_, settings, setup.server.optical, setup.server.pieceGapMs, setup.udpPauses),
          real_(setup.links == Links::Real),
          stack(StackSetup{.settings = settings,
                           .rows = rows,
                           .display = display,
                           .ports = PortNaming{dir.path(), "/dev"},
                           .localIp = 0x7F000001,
                           .reopenDatabase = [this] { ++reopens; },
                           .localAddress = [this] { return localAddress ? localAddress() : 0x7F000001; },
                           .udpPauses = setup.udpPauses,
                           .waits = setup.waits,
                           .pacing = std::move(setup.pacing),
                           .channels = real_ ? nullptr : &links,
                           .log = &log}),
          shared(stack.shared()), poster(stack.queue()), serial(stack.serial()), udp(stack.udp()),
          controller(stack.controller()) {
        links.attach(stack.shared(), stack.queue());
        std::string error;
        started = !real_ || server.start(&error);
        EXPECT_TRUE(started) << error;
        settings.portNumbers[0] = kPort;
        settings.portIndex = 0;
        settings.speedIndex = 9;
        settings.waitSeconds = 1;
        settings.deviceIp = 0x7F000001;
        settings.udpPort = server.udpPort();
    }
    ~Rig() {
        controller.StopExchange();
        server.stop();
    }

    void setRows(const std::vector<RowSpec>& specs, std::vector<int> selected = {}) {
        std::vector<ParamRow> v;
        for (const auto& s : specs)
            v.push_back(MakeRow(s));
        rows.setRows(std::move(v));
        if (selected.empty())
            for (int i = 0; i < rows.rowCount(); ++i)
                selected.push_back(i);
        for (int i : selected)
            rows.setSelected(i, true);
    }

    // One 25 ms step of virtual time.
    void step() {
        if (!real_) {
            links.advance(kExchangeTimerMs);
            ticks += stack.step(++steps % 4 == 0);
            links.datagram.advance(); // what the controller just did is seen at once
            return;
        }
        ticks += stack.step(++steps % 4 == 0);
        std::this_thread::sleep_for(std::chrono::microseconds(realMicrosPerStep));
    }
    bool realLinks() const { return real_; }

    // Fast pacing on the manual clock: a pace step every `stepUs`, a tick
    // every 100 ms. Model links only.
    bool runFastToEnd(int stepUs, int maxSteps = 200000) {
        for (int i = 0; i < maxSteps && controller.busy(); ++i) {
            links.advanceMicros(stepUs);
            sinceTick_ += stepUs;
            controller.paceStep();
            if (sinceTick_ >= kTickMs * 1000) {
                sinceTick_ -= kTickMs * 1000;
                stack.tick();
            }
            ticks += stack.drain();
            links.datagram.advance();
        }
        return !controller.busy();
    }

    // Steps until the exchange is idle (or the step budget runs out).
    bool runToEnd(int maxSteps = 4000) {
        for (int i = 0; i < maxSteps; ++i) {
            step();
            if (!controller.busy())
                return true;
        }
        return false;
    }

    template <typename Pred> bool runUntil(Pred pred, int maxSteps = 4000) {
        for (int i = 0; i < maxSteps; ++i) {
            if (pred())
                return true;
            step();
        }
        return pred();
    }

    devsim::DeviceModel& model() { return model_; }
    int requests(int channel, int param, int index = 0) {
        return model_.requestCount({channel, param, index});
    }

    TempDir dir;
    ScopedCwd cwd{dir.path()};

private:
    static devsim::ParamTable table(const QString& params) {
        devsim::ParamTable t;
        QString error;
        EXPECT_TRUE(t.parse(params, std::nullopt, &error)) << error.toStdString();
        return t;
    }
    devsim::ServerOptions withPty(devsim::ServerOptions o) {
        if (!o.udpHost)
            o.udpHost = "127.0.0.1";
        o.ptyLink = (dir.path() / ("COM" + std::to_string(kPort))).string();
        return o;
    }

    devsim::DeviceModel model_;

public:
    devsim::Server server;
    ConnectionSettings settings;
    ModelLinks links;

private:
    bool real_;

public:
    bool started = false;
    MemoryRowTable rows;
    RecordingDisplay display;
    ExchangeStack stack;
    // The stack's parts, under the names the tests use.
    ExchangeShared& shared;
    PostQueue& poster;
    SerialChannel& serial;
    UdpChannel& udp;
    ExchangeController& controller;
    // Read by the log's clock on the UDP thread too.
    std::atomic<int> steps{0};
    int ticks = 0;
    int reopens = 0;
    int realMicrosPerStep = 1500;
    int sinceTick_ = 0;
    // Asked at each exchange; loopback unless a test changes it.
    std::function<uint32_t()> localAddress;
    // Every frame and event of the rig's exchanges, timed by its steps. The
    // stack only keeps its address until the first command.
    ExchangeLog log{kExchangeLogCapacity, [this] { return int64_t{steps.load()} * kExchangeTimerMs; }};
};

// A rig whose device answers on the manual clock.
class ModelRig : public Rig {
public:
    explicit ModelRig(const QString& params, RigSetup setup = {}) : Rig(params, onModelLinks(std::move(setup))) {}

private:
    static RigSetup onModelLinks(RigSetup setup) {
        setup.links = Links::Model;
        return setup;
    }
};

} // namespace parvault::testing
