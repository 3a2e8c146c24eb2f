// A listing file that shrinks between being sized and being read.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <unistd.h>

#include "loader/extract.h"
#include "loader/field.h"
#include "loader/inputs.h"
#include "platform/files.h"
#include "platform/memory.h"
#include "run_state.h"

namespace {

const std::string record(40, 'r');

struct ShrinkingFile : testing::Test {
	char name[32] = "/tmp/rowsift-shrink-XXXXXX";
	std::string text = "title\r\n----- BEGIN\r\n  PATH  \r\n" + record + "\r\n" + record +
	    "\r\n" + record + "\r\n----- END\r\n";
	Listing l = empty_listing(1);
	void SetUp() override
	{
		int fd = mkstemp(name);
		ASSERT_GE(fd, 0);
		ASSERT_EQ(write(fd, text.data(), text.size()), ssize_t(text.size()));
		close(fd);
		l.name = name;
		l.handle = open_input(name);
		l.size = input_size(l.handle);
		l.buffer_size = size_t(l.size) + 1024;
		l.buffer = allocate_zeroed(l.buffer_size);
		grow_table(l.table, 0);
	}
	void TearDown() override
	{
		unmap_input(l.buffer, l.buffer_size);
		free(l.table.entries);
		unlink(name);
	}
};

} // namespace

TEST_F(ShrinkingFile, TheRecordsStillThereAreLoaded)
{
	ASSERT_EQ(truncate(name, off_t(text.find(record) + 2 * (record.size() + 2))), 0);
	load_listing(l, with_headers, 0, false);
	EXPECT_EQ(l.count, 2u);
	EXPECT_EQ(select_field(l, CompareField()).compare_length, int(record.size()));
}

TEST_F(ShrinkingFile, NothingLeftIsAListingWithoutAHeader)
{
	ASSERT_EQ(truncate(name, 0), 0);
	EXPECT_EXIT(load_listing(l, with_headers, 0, false), testing::ExitedWithCode(1), "doesn't seem to be a header");
}
