// The four track writers as the files' own readers see them: the edges a receiver can produce
// (the poles and the date line, a repeated time, no time yet) and a disk that takes no more.

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "sinks/csv_writer.hpp"
#include "sinks/geojson_writer.hpp"
#include "sinks/gpx_writer.hpp"
#include "sinks/kml_writer.hpp"
#include "support/fake_platform.hpp"
#include "support/files.hpp"

namespace quorvane {
namespace {

struct Format {
  const char* extension;
  std::function<std::unique_ptr<TrackWriter>()> make;
  const char* reader;  // a command that fails on a file it cannot read; FILE is the file
};

testing::FakePlatform platform;

const Format kFormats[] = {
    {".kml", [] { return std::make_unique<KmlWriter>(platform); }, "xmllint --noout FILE"},
    {".gpx", [] { return std::make_unique<GpxWriter>(); }, "xmllint --noout FILE"},
    {".geojson", [] { return std::make_unique<GeoJsonWriter>(); },
     "python3 -c 'import json,sys; json.load(open(sys.argv[1]))' FILE"},
    {".csv", [] { return std::make_unique<CsvWriter>(); },
     "python3 -c 'import csv,sys; rows=list(csv.reader(open(sys.argv[1]))); "
     "sys.exit(len({len(r) for r in rows}) != 1)' FILE"},
};

TrackFix At(double latitude, double longitude, const std::string& time) {
  TrackFix fix;
  fix.latitude = latitude;
  fix.longitude = longitude;
  fix.time = time;
  fix.altitude = -12.5;
  fix.fix = "3d";
  return fix;
}

int Read(const Format& format, const std::string& path) {
  std::string command = format.reader;
  command.replace(command.find("FILE"), 4, "'" + path + "'");
  return std::system((command + " 2>&1").c_str());
}

TEST(TrackWriters, ThePolesTheDateLineARepeatedTimeAndNoTimeAreRead) {
  testing::ScratchFolder folder;
  for (const Format& format : kFormats) {
    SCOPED_TRACE(format.extension);
    const std::string path = folder.File(std::string("edges") + format.extension);
    auto writer = format.make();
    ASSERT_EQ(writer->Open(path, "Edges & <ends>"), "");
    writer->Point(At(90, 180, "2026-12-08T12:00:00.000Z"));
    writer->Point(At(-90, -180, "2026-12-08T12:00:00.000Z"));  // the same second again
    writer->Gap();
    writer->Point(At(0, -0.0, ""));  // before the receiver knew the date
    EXPECT_EQ(writer->Flush(), "");
    EXPECT_EQ(writer->Finish(), "");
    EXPECT_EQ(Read(format, path), 0) << testing::ReadFile(path);
    const std::string text = testing::ReadFile(path);
    EXPECT_EQ(text.find("nan"), std::string::npos);
    EXPECT_NE(text.find("-180"), std::string::npos);
  }
}

TEST(TrackWriters, ADiskThatTakesNoMoreIsSaidByFlushOrFinish) {
  testing::ScratchFolder folder;
  for (const Format& format : kFormats) {
    SCOPED_TRACE(format.extension);
    const std::string path = folder.File(std::string("full") + format.extension);
    // In a child: the file-size limit and its signal are the process's.
    const pid_t child = ::fork();
    if (child == 0) {
      ::signal(SIGXFSZ, SIG_IGN);
      const rlimit small{4096, 4096};
      ::setrlimit(RLIMIT_FSIZE, &small);
      auto writer = format.make();
      if (!writer->Open(path, "Full").empty()) ::_exit(2);
      std::string failure;
      for (int second = 0; second < 2000 && failure.empty(); ++second) {
        writer->Point(At(48.1, 11.5, "2026-12-08T12:00:00.000Z"));
        if (second % 100 == 99) failure = writer->Flush();
      }
      if (failure.empty()) failure = writer->Finish();
      ::_exit(failure.empty() ? 1 : 0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "exit " << WEXITSTATUS(status) << " (1: the failure was not said)";
  }
}

}  // namespace
}  // namespace quorvane
