#include "host/batch.h"

#include <gtest/gtest.h>

namespace qev {
namespace {

using Answer = BatchEnd::Answer;

TEST(BatchEnd, FollowsTheStopTheBackendsHabitsAndThePagesSoFar) {
  const Error noFile{"No space left on device", Code::diskFull};
  const Error unwritten{"Input/output error"};
  struct {
    const char* name;
    Batch batch;
    Answer answer;
    std::optional<SANE_Status> failedWith;  // the status of a failure
    std::optional<Code> code;               // the code of the error answered
  } cases[] = {
      {"a flatbed's one page", {.backend = "test", .pages = 1}, Answer::completed},
      {"a closing session stops without a word",
       {.backend = "test",
        .halt = Halt::start,
        .status = SANE_STATUS_IO_ERROR,
        .closing = true,
        .cancelling = true},
       Answer::none},
      {"a stop the user asked for, whatever the backend answered",
       {.backend = "test",
        .halt = Halt::read,
        .status = SANE_STATUS_IO_ERROR,
        .cancelling = true,
        .unwritten = unwritten},
       Answer::cancelled},
      {"no page file",
       {.backend = "test", .pages = 2, .noFile = noFile, .unwritten = unwritten},
       Answer::completed,
       std::nullopt,
       Code::diskFull},
      {"a page that could not be written, also when it cut the read",
       {.backend = "test",
        .pages = 1,
        .halt = Halt::read,
        .status = SANE_STATUS_CANCELLED,
        .bytes = 10,
        .unwritten = unwritten},
       Answer::completed},
      // sane_start refused a sheet.
      {"the standard's empty feeder after a page",
       {.backend = "fujitsu",
        .feeds = true,
        .pages = 2,
        .halt = Halt::start,
        .status = SANE_STATUS_NO_DOCS},
       Answer::completed},
      {"an empty feeder before any page",
       {.backend = "fujitsu", .feeds = true, .halt = Halt::start, .status = SANE_STATUS_NO_DOCS},
       Answer::failed,
       SANE_STATUS_NO_DOCS,
       Code::feederEmpty},
      {"kodakaio's empty feeder after a page",
       {.backend = "kodakaio",
        .feeds = true,
        .pages = 1,
        .halt = Halt::start,
        .status = SANE_STATUS_CANCELLED},
       Answer::completed},
      {"kodakaio's empty feeder before any page",
       {.backend = "kodakaio", .feeds = true, .halt = Halt::start, .status = SANE_STATUS_CANCELLED},
       Answer::failed,
       SANE_STATUS_CANCELLED,
       Code::feederEmpty},
      {"another backend's own cancel",
       {.backend = "fujitsu",
        .feeds = true,
        .pages = 1,
        .halt = Halt::start,
        .status = SANE_STATUS_CANCELLED},
       Answer::failed,
       SANE_STATUS_CANCELLED},
      {"a flatbed's refused start is no empty feeder",
       {.backend = "kodakaio", .halt = Halt::start, .status = SANE_STATUS_CANCELLED},
       Answer::failed,
       SANE_STATUS_CANCELLED},
      {"genesys's I/O error after a sheet",
       {.backend = "genesys",
        .feeds = true,
        .pages = 1,
        .halt = Halt::start,
        .status = SANE_STATUS_IO_ERROR},
       Answer::completedIfListed},
      {"genesys's I/O error before any sheet",
       {.backend = "genesys", .feeds = true, .halt = Halt::start, .status = SANE_STATUS_IO_ERROR},
       Answer::failed,
       SANE_STATUS_IO_ERROR},
      {"another backend's I/O error after a sheet",
       {.backend = "epson2",
        .feeds = true,
        .pages = 1,
        .halt = Halt::start,
        .status = SANE_STATUS_IO_ERROR},
       Answer::failed,
       SANE_STATUS_IO_ERROR},
      {"a jam",
       {.backend = "fujitsu",
        .feeds = true,
        .pages = 3,
        .halt = Halt::start,
        .status = SANE_STATUS_JAMMED},
       Answer::failed,
       SANE_STATUS_JAMMED,
       Code::jammed},
      // A read failed.
      {"a sheet found missing at its first read",
       {.backend = "pixma",
        .feeds = true,
        .pages = 1,
        .halt = Halt::read,
        .status = SANE_STATUS_NO_DOCS},
       Answer::completed},
      {"a feeder found empty at the first read of the first sheet",
       {.backend = "pixma", .feeds = true, .halt = Halt::read, .status = SANE_STATUS_NO_DOCS},
       Answer::failed,
       SANE_STATUS_NO_DOCS,
       Code::feederEmpty},
      {"a feeder found empty after part of a sheet",
       {.backend = "pixma",
        .feeds = true,
        .pages = 1,
        .halt = Halt::read,
        .status = SANE_STATUS_NO_DOCS,
        .bytes = 1},
       Answer::failed,
       SANE_STATUS_NO_DOCS,
       Code::feederEmpty},
      {"an I/O error in a read",
       {.backend = "genesys",
        .feeds = true,
        .pages = 1,
        .halt = Halt::read,
        .status = SANE_STATUS_IO_ERROR},
       Answer::failed,
       SANE_STATUS_IO_ERROR},
      {"a backend that cancels a read on its own",
       {.backend = "test", .halt = Halt::read, .status = SANE_STATUS_CANCELLED, .bytes = 100},
       Answer::failed,
       SANE_STATUS_CANCELLED},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    BatchEnd end = batchEnd(c.batch);
    EXPECT_EQ(end.answer, c.answer);
    if (c.failedWith) {
      EXPECT_EQ(end.status, *c.failedWith);
      ASSERT_TRUE(end.error);
      EXPECT_EQ(end.error->description, sane_strstatus(*c.failedWith));
    }
    if (c.code) {
      ASSERT_TRUE(end.error);
      EXPECT_EQ(end.error->code, c.code);
    } else if (end.error) {
      EXPECT_FALSE(end.error->code);
    }
    const bool errs = c.failedWith || c.batch.noFile ||
                      (c.batch.unwritten && !c.batch.closing && !c.batch.cancelling);
    EXPECT_EQ(end.error.has_value(), errs);
  }
}

}  // namespace
}  // namespace qev
