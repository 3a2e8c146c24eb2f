// The comparison checked against a model small enough to be obviously
// right: a record of one listing is missing when no record of the other
// has the same compare field, and the missing records are reported in the
// order of their characters from the field start on.  Each case draws two
// listings and a set of options from its own seed and runs the program on
// them.  The cases are dealt round the shards, one test each, so that
// the test runner can run them side by side.
//
// Replay one case:  ROWSIFT_MODEL_SEED=<seed> ROWSIFT_MODEL_CASES=1 model_tests
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "run_helper.h"

namespace {

struct Case {
	std::vector<std::string> first, second;
	bool only_first = false, only_second = false, ignore_case = false, hash = false;
	bool no_headers = false;
	int start = 0, length = 0;
	std::vector<std::string> args;
	// Per listing: the record an empty line stands before (none: -1),
	// and whether the "----- END" line is left out.
	int empty_before[2] = { -1, -1 };
	bool cut_short[2] = {};
};

// What the program should report: a failure, or the records missing from
// the other listing in each direction.  The model's lists are sorted as
// strings; the program's are in the order it reported them.
struct Outcome {
	bool fails = false;
	std::vector<std::string> missing_first, missing_second;
	int start = 0;		// of the field, where the report's order begins
};

// The records the program takes from a listing: those before a stray
// empty line.
std::vector<std::string>
taken(const Case &c, int side)
{
	const std::vector<std::string> &all = side == 0 ? c.first : c.second;
	int end = c.empty_before[side] < 0 ? int(all.size()) : c.empty_before[side];
	return std::vector<std::string>(all.begin(), all.begin() + end);
}

bool
is_hex(char c)
{
	return isxdigit(static_cast<unsigned char>(c)) != 0;
}

// The hash starts the first run of at least eight hex digits that begins
// after the first blank at or after index 3, and ends at the next blank.
bool
locate_hash(const std::string &r, int &start, int &length)
{
	size_t p = r.find(' ', 3);
	for (; p < r.size(); p++) {
		size_t run = 0;
		while (p + run < r.size() && is_hex(r[p + run]))
			run++;
		if (run >= 8 && !is_hex(r[p - 1])) {
			start = int(p);
			length = int(std::min(r.find(' ', p), r.size()) - p);
			return true;
		}
	}
	return false;
}

// A record as the program holds it: a first line without headers that is
// shorter than the record length reads as zeros up to it; one that is
// longer keeps its own length.
std::string
held(const std::string &r, int record_length)
{
	return r.size() < size_t(record_length) ? r + std::string(size_t(record_length) - r.size(), '\0') : r;
}

std::string
folded(const Case &c, std::string text)
{
	if (c.ignore_case)
		for (char &ch : text)
			ch = ch >= 'A' && ch <= 'Z' ? char(ch - 'A' + 'a') : ch;
	return text;
}

// length characters from start, fewer where the record ends first.
std::string
compare_field(const Case &c, const std::string &r, int start, int length, int record_length)
{
	return folded(c, held(r, record_length).substr(size_t(start), size_t(length)));
}

// What the missing records are sorted by: the characters from start to
// the record length, up to a zero byte.
std::string
sort_key(const Case &c, const std::string &r, int start, int record_length)
{
	std::string key = held(r, record_length).substr(size_t(start), size_t(record_length - start));
	return folded(c, key.substr(0, key.find('\0')));
}

std::vector<std::string>
missing(const Case &c, const std::vector<std::string> &scanned,
    const std::vector<std::string> &other, int start, int length, int record_length)
{
	std::set<std::string> fields;
	for (const std::string &r : other)
		fields.insert(compare_field(c, r, start, length, record_length));
	std::vector<std::string> out;
	for (const std::string &r : scanned)
		if (!fields.count(compare_field(c, r, start, length, record_length)))
			out.push_back(r);
	std::sort(out.begin(), out.end());
	return out;
}

Outcome
model(const Case &whole, int record_length)
{
	Case c = whole;
	c.first = taken(whole, 0);
	c.second = taken(whole, 1);
	Outcome o;
	int start = c.start, length = 0;
	std::set<int> hash_lengths;
	// Each listing with records fixes the field anew; the last one wins.
	for (const std::vector<std::string> *l : { &c.first, &c.second }) {
		if (l->empty())
			continue;
		if (c.hash && !locate_hash(l->front(), start, length)) {
			o.fails = true;
			return o;
		}
		if (start >= record_length) {
			o.fails = true;
			return o;
		}
		hash_lengths.insert(length);
	}
	// Hashes of two lengths come from two algorithms.
	if (c.hash && hash_lengths.size() > 1) {
		o.fails = true;
		return o;
	}
	if (!c.hash)
		length = record_length - start;
	// A length given reaches past the record's end in a longer first line.
	if (c.length)
		length = c.length;
	o.start = start;
	if (!c.only_second)
		o.missing_first = missing(c, c.first, c.second, start, length, record_length);
	if (!c.only_first)
		o.missing_second = missing(c, c.second, c.first, start, length, record_length);
	return o;
}

// Records of a hash listing built from a few characters, so that fields
// often agree, differ in case, or differ in only one place.
std::string
random_record(std::mt19937 &rng)
{
	auto pick = [&](const char *set) { return set[rng() % strlen(set)]; };
	// A size of eight digits after a blank at index 3 is taken for the hash.
	std::string size(12, ' ');
	for (size_t i = rng() % 13; i < size.size(); i++)
		size[i] = pick("0123456789");
	std::string hash;
	for (int i = 0; i < 12; i++)
		hash += pick("0aAbBfF");
	std::string path = "c:\\";
	for (int i = 0; i < 6; i++)
		path += pick("aAbBxX_.");
	return size + "|01/02/2023| " + hash + " | " + path;
}

std::string
vary(std::string r, std::mt19937 &rng)
{
	size_t at = rng() % r.size();
	switch (rng() % 4) {
	case 0:
		return r;
	case 1:		// a case variant
		for (char &ch : r)
			if (isalpha(static_cast<unsigned char>(ch)) && rng() % 2)
				ch = char(ch ^ 0x20);
		return r;
	case 2:		// one character changed somewhere
		r[at] = "0aAxX_"[rng() % 6];
		return r;
	default:	// no hash value left anywhere
		for (char &ch : r)
			if (is_hex(ch))
				ch = 'x';
		return r;
	}
}

// The first line of a listing without headers, a record whatever its
// length: often longer or shorter than the others.
std::string
vary_length(std::string r, std::mt19937 &rng)
{
	switch (rng() % 3) {
	case 0:
		return r;
	case 1:
		for (size_t n = 1 + rng() % 8; n > 0; n--)
			r += "aAxX_ "[rng() % 6];
		return r;
	default:
		return r.substr(0, rng() % r.size());
	}
}

std::vector<std::string>
random_listing(const std::vector<std::string> &pool, std::mt19937 &rng, bool no_headers)
{
	std::vector<std::string> l;
	// Without headers the second line gives the record length: a listing
	// has two records at least.
	if (!no_headers && rng() % 8 == 0)
		return l;
	size_t n = (no_headers ? 2 : 1) + rng() % 12;
	for (size_t i = 0; i < n; i++) {
		const std::string &base = pool[rng() % pool.size()];
		l.push_back(rng() % 3 ? base : vary(base, rng));
	}
	if (no_headers)
		l.front() = vary_length(l.front(), rng);
	return l;
}

Case
random_case(unsigned seed, int record_length)
{
	std::mt19937 rng(seed);
	Case c;
	std::vector<std::string> pool;
	for (size_t n = 1 + rng() % 6; n > 0; n--)
		pool.push_back(random_record(rng));
	c.args = { "a.txt", "b.txt" };
	std::string letters = "-";
	auto maybe = [&](int in, bool &flag, char letter) {
		if (int(rng() % 100) < in) {
			flag = true;
			letters += letter;
		}
	};
	maybe(30, c.no_headers, 'x');
	c.first = random_listing(pool, rng, c.no_headers);
	c.second = random_listing(pool, rng, c.no_headers);
	maybe(10, c.only_first, '1');
	maybe(10, c.only_second, '2');
	maybe(40, c.ignore_case, 'i');
	maybe(30, c.hash, 'h');
	if (letters.size() > 1)
		c.args.push_back(letters);
	if (rng() % 3 == 0) {
		c.start = int(rng() % unsigned(record_length + 3));
		c.args.push_back("-d" + std::to_string(c.start));
	}
	if (rng() % 3 == 0) {
		c.length = int(rng() % unsigned(record_length + 5));
		c.args.push_back("-l");
		c.args.push_back(std::to_string(c.length));
	}
	// A stray empty line after a record, or no trailer.
	const std::vector<std::string> *sides[2] = { &c.first, &c.second };
	for (int i = 0; i < 2 && !c.no_headers; i++) {
		if (sides[i]->size() > 1 && rng() % 8 == 0)
			c.empty_before[i] = 1 + int(rng() % (sides[i]->size() - 1));
		c.cut_short[i] = rng() % 8 == 0;
	}
	return c;
}

// Listings of one tree in one order, as the walk of listing 2 beside
// listing 1 meets them: each is one sorted list of records with runs of
// records replaced, removed, added, copied from elsewhere, or shuffled,
// and with copies of the record at such a join; listing 2 may instead be
// the list partly sorted, shuffled or reversed.  The runs are of every
// length around the walk's look-ahead and its stretches, and the larger
// listings are shared by two threads.
std::vector<std::string>
edited(const std::vector<std::string> &base, std::mt19937 &rng, size_t edits, bool short_runs)
{
	static const size_t runs[] = { 1, 1, 2, 3, 4, 5, 6, 9, 17, 300, 4097, 5000, 20000 };
	size_t run_kinds = short_runs ? 8 : std::size(runs);
	std::vector<std::string> l;
	for (size_t i = 0; i < base.size();) {
		if (rng() % base.size() >= edits) {
			l.push_back(base[i++]);
			continue;
		}
		size_t run = std::min(runs[rng() % run_kinds], base.size() - i);
		switch (rng() % 6) {
		case 0:		// replaced
			for (size_t k = 0; k < run; k++)
				l.push_back(vary(base[i++], rng));
			break;
		case 1:		// removed
			i += run;
			break;
		case 2:		// added
			for (size_t k = 0; k < run; k++)
				l.push_back(random_record(rng));
			break;
		case 3:		// copied from anywhere
			for (size_t k = 0; k < run; k++)
				l.push_back(base[rng() % base.size()]);
			break;
		case 4:		// out of order
			l.insert(l.end(), base.begin() + long(i), base.begin() + long(i + run));
			std::shuffle(l.end() - long(run), l.end(), rng);
			i += run;
			break;
		default:	// the record at the join twice or more
			for (size_t k = 1 + rng() % 3; k > 0; k--)
				l.push_back(l.empty() ? base[i] : l.back());
			break;
		}
	}
	return l;
}

Case
walk_case(unsigned seed)
{
	std::mt19937 rng(seed);
	static const size_t sizes[] = { 40, 3000, 20000, 70000, 150000 };
	std::vector<std::string> base(sizes[seed % std::size(sizes)]);
	for (std::string &r : base)
		r = random_record(rng);
	std::sort(base.begin(), base.end());
	Case c;
	// Short runs keep the listings in step throughout; long ones take
	// them out of step for a while.
	bool short_runs = rng() % 2;
	size_t edits = 1 + rng() % 40;
	c.first = edited(base, rng, edits, short_runs);
	switch (rng() % 6) {
	case 0:		// a few records moved at random
		c.second = base;
		for (size_t n = base.size() / 20; n > 0; n--) {
			size_t from = rng() % c.second.size(), to = rng() % c.second.size();
			std::string moved = c.second[from];
			c.second.erase(c.second.begin() + long(from));
			c.second.insert(c.second.begin() + long(to), moved);
		}
		break;
	case 1:
		c.second = edited(base, rng, edits, short_runs);
		std::shuffle(c.second.begin(), c.second.end(), rng);
		break;
	case 2:
		c.second = edited(base, rng, edits, short_runs);
		std::reverse(c.second.begin(), c.second.end());
		break;
	default:
		c.second = edited(base, rng, edits, short_runs);
		break;
	}
	c.args = { "a.txt", "b.txt" };
	switch (rng() % 4) {
	case 0:
		c.ignore_case = true;
		c.args.push_back("-i");
		break;
	case 1:
		c.hash = true;
		c.args.push_back("-h");
		break;
	case 2:		// the date and what follows
		c.start = 13;
		c.args.push_back("-d13");
		break;
	}
	return c;
}

// The notes after the total: records past a stray empty line (which
// stands on line 4 + its place: three header lines come first), and a
// missing trailer.
std::string
expected_notes(const Case &c)
{
	std::string notes;
	const char *names[2] = { "a.txt", "b.txt" };
	for (int side = 0; side < 2; side++) {
		size_t all = (side == 0 ? c.first : c.second).size();
		size_t past = all - taken(c, side).size();
		if (past == 1)
			notes += format("\nNote: 1 line of the record length follows the end of the data"
			    " in %s (it ended at line %d)\n", names[side], 4 + c.empty_before[side]);
		else if (past > 1)
			notes += format("\nNote: %zu lines of the record length follow the end of the data"
			    " in %s (it ended at line %d)\n", past, names[side], 4 + c.empty_before[side]);
		if (c.cut_short[side])
			notes += format("\nNote: %s has no \"----- END\" line; it may be cut short\n",
			    names[side]);
	}
	return notes;
}

// A listing whose trailer has the record length, so that an empty one
// agrees with any other on the record length.
std::string
listing_text(const Case &c, int side, int record_length)
{
	const std::vector<std::string> &records = side == 0 ? c.first : c.second;
	std::string text = c.no_headers ? "" : "title\r\n----- BEGIN\r\n  SIZE  |  PATH  \r\n";
	for (size_t i = 0; i < records.size(); i++)
		text += (int(i) == c.empty_before[side] ? "\r\n" : "") + records[i] + "\r\n";
	if (c.cut_short[side])
		return text;
	std::string trailer = "----- END";
	return text + trailer + std::string(size_t(record_length) - trailer.size(), ' ') + "\r\n";
}

// The records the program reported in each direction, in its order, and
// its total; false when its output doesn't have that shape.
bool
reported(const RunResult &run, Outcome &o, int &total)
{
	std::istringstream out(run.out);
	std::string line;
	total = -1;
	while (std::getline(out, line)) {
		if (line == "Found the following entry in a.txt not in b.txt" && std::getline(out, line))
			o.missing_first.push_back(line);
		else if (line == "Found the following entry in b.txt not in a.txt" && std::getline(out, line))
			o.missing_second.push_back(line);
		else
			sscanf(line.c_str(), "Found %d mismatches", &total);
	}
	return total >= 0;
}

// Whether the program reported the records the model finds missing, in
// an order of their sort keys; records with equal keys may come in any
// order.
bool
same_report(const Case &c, const std::vector<std::string> &got,
    const std::vector<std::string> &expected, int start, int record_length)
{
	for (size_t i = 1; i < got.size(); i++)
		if (sort_key(c, got[i], start, record_length) < sort_key(c, got[i - 1], start, record_length))
			return false;
	std::vector<std::string> sorted = got;
	std::sort(sorted.begin(), sorted.end());
	return sorted == expected;
}

unsigned
from_environment(const char *name, unsigned fallback)
{
	const char *value = getenv(name);
	return value ? unsigned(strtoul(value, nullptr, 10)) : fallback;
}

std::string
command_line(const Case &c)
{
	std::string text = "rowsift";
	for (const std::string &a : c.args)
		text += " " + a;
	return text;
}

// Whether the program's run agrees with the model's outcome; says where
// it doesn't.
bool
agrees_with_model(const Case &c, unsigned seed, const RunResult &run, int record_length)
{
	Outcome expected = model(c, record_length), got;
	int total = 0;
	bool complete = reported(run, got, total);
	bool agrees = expected.fails ? run.status == 1 && !complete :
	    run.status == 0 && complete &&
	    same_report(c, got.missing_first, expected.missing_first, expected.start, record_length) &&
	    same_report(c, got.missing_second, expected.missing_second, expected.start, record_length) &&
	    size_t(total) == expected.missing_first.size() + expected.missing_second.size() &&
	    run.err.find(expected_notes(c) + "\n*****") != std::string::npos &&
	    count_of(run.err, "Note") == count_of(expected_notes(c), "Note");
	if (!agrees) {
		std::string out = run.out.size() > 4000 ? run.out.substr(0, 4000) + "...\n" : run.out;
		ADD_FAILURE() << "seed " << seed << ": " << command_line(c) << ", "
		    << c.first.size() << " and " << c.second.size() << " records"
		    << "\nreplay with ROWSIFT_MODEL_SEED=" << seed << " ROWSIFT_MODEL_CASES=1"
		    << "\nstatus " << run.status << ", stdout:\n" << out
		    << "stderr:\n" << run.err;
	}
	return agrees;
}

const unsigned shards = 8;
// Walk cases take their size from the seed, one of five in turn; with six
// shards every shard draws each size once and none gets all the largest.
const unsigned one_order_shards = 6;

class Model : public testing::TestWithParam<unsigned> {};
class ModelInOneOrder : public testing::TestWithParam<unsigned> {};

} // namespace

TEST_P(Model, ProgramReportsWhatTheModelFindsMissing)
{
	unsigned first_seed = from_environment("ROWSIFT_MODEL_SEED", 1);
	unsigned cases = from_environment("ROWSIFT_MODEL_CASES", 2000);
	std::mt19937 probe;
	const int record_length = int(random_record(probe).size());
	TempDir dir;
	for (unsigned seed = first_seed + GetParam(); seed < first_seed + cases; seed += shards) {
		Case c = random_case(seed, record_length);
		dir.write("a.txt", listing_text(c, 0, record_length));
		dir.write("b.txt", listing_text(c, 1, record_length));
		if (!agrees_with_model(c, seed, run_rowsift(dir.path, c.args), record_length))
			return;
	}
}

TEST_P(ModelInOneOrder, ReportsWhatTheModelFindsMissing)
{
	unsigned first_seed = from_environment("ROWSIFT_MODEL_SEED", 1);
	unsigned cases = from_environment("ROWSIFT_MODEL_CASES", 30);
	std::mt19937 probe;
	const int record_length = int(random_record(probe).size());
	TempDir dir;
	for (unsigned seed = first_seed + GetParam(); seed < first_seed + cases;
	    seed += one_order_shards) {
		Case c = walk_case(seed);
		dir.write("a.txt", listing_text(c, 0, record_length));
		dir.write("b.txt", listing_text(c, 1, record_length));
		if (!agrees_with_model(c, seed, run_rowsift(dir.path, c.args), record_length))
			return;
	}
}

INSTANTIATE_TEST_SUITE_P(Shard, Model, testing::Range(0u, shards));
INSTANTIATE_TEST_SUITE_P(Shard, ModelInOneOrder, testing::Range(0u, one_order_shards));
