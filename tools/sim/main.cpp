// etlan-sim: simulated PLC stations behind ET-LAN units on 127.0.0.1.
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include <asio/io_context.hpp>
#include <asio/signal_set.hpp>

#include "etl_version.h"
#include "tools/common/std_streams.h"
#include "tools/sim/options.h"
#include "tools/sim/pcap_writer.h"
#include "tools/sim/simulator.h"

int main(int argc, char** argv) {
    etl::tools::OpenStandardStreams();  // before any socket or file is opened
    etl::sim::SimOptions options;
    std::string why;
    if (!etl::sim::ParseSimOptions(argc, argv, &options, &why)) {
        std::fprintf(stderr, "etlan-sim: %s\n", why.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(etl::sim::SimUsage(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("etlan-sim %s\n", ETL_VERSION);
        return 0;
    }
    const std::string& recordPath = options.recordPath;

    etl::sim::PcapWriter capture;  // outlives the simulator that reports to it
    if (!recordPath.empty() && !capture.Open(recordPath)) {
        std::fprintf(stderr, "etlan-sim: cannot write the capture file %s\n", recordPath.c_str());
        return 1;
    }
    etl::sim::Simulator sim(options.model);
    if (!recordPath.empty()) sim.SetRecorder(&capture);
    sim.SetVerbose(options.verbose);
    sim.SetTrace(options.trace);
    for (const auto& set : options.sets) {
        if (!sim.SetFromText(set.text)) {  // checked with the model already
            std::fprintf(stderr, "etlan-sim: %s: \"%s\" is refused\n", set.origin.c_str(), set.text.c_str());
            return 2;
        }
    }
    for (const auto& st : options.stations) {
        if (sim.AddStation(st.number, st.port) < 0) {
            std::fprintf(stderr, "etlan-sim: station %d cannot listen on port %u (in use, or not allowed)\n",
                         st.number, static_cast<unsigned>(st.port));
            return 1;
        }
        const etl::sim::StationSettings settings = options.SettingsFor(st.number);
        sim.SetFaults(st.number, settings.faults);
        sim.SetSplit(st.number, settings.split);
        sim.SetStationField(st.number, settings.field, settings.strictField);
    }
    // Runs until SIGINT or SIGTERM (or the end of standard input), asleep.
    auto stop = std::make_shared<asio::io_context>();
    asio::signal_set signals(*stop, SIGINT, SIGTERM);
    signals.async_wait([stop](const std::error_code&, int) { stop->stop(); });
    if (!sim.Start()) {
        std::fprintf(stderr, "etlan-sim: a station could not listen\n");
        return 1;
    }
    for (const auto& st : options.stations) {
        std::printf("%s\n", etl::sim::ReadyLine(options, st.number, sim.Port(st.number)).c_str());
    }
    std::fflush(stdout);
    if (options.stdinStop) {
        std::thread([stop] {
            while (std::fgetc(stdin) != EOF) {
            }
            stop->stop();
        }).detach();
    }
    stop->run();
    sim.Stop();
    if (!recordPath.empty() && !capture.Close()) {
        std::fprintf(stderr, "etlan-sim: writing the capture file %s failed\n", recordPath.c_str());
        return 1;
    }
    return 0;
}
