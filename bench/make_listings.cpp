// Writes two hash listings for the benchmark: N records of one fixed
// length, the second listing with a share of its records replaced, each
// listing in its own shuffled order, or both sorted by their path column
// as the listings of one tree are.  The same seed gives the same bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

static uint64_t
mix(uint64_t x)
{
	x += 0x9e3779b97f4a7c15ull;
	x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
	x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
	return x ^ (x >> 31);
}

// A small counter-based generator: every record is a function of the seed
// and its number, so neither listing has to be held in memory.
struct Draw {
	uint64_t state;
	uint64_t
	next()
	{
		return mix(state++);
	}
	uint64_t
	below(uint64_t n)
	{
		return next() % n;
	}
};

static const char *const folders[] = {
	"c:\\windows\\system32\\", "c:\\projects\\", "c:\\program files\\tools\\",
	"c:\\users\\kim\\documents\\", "d:\\photos\\2019\\", "d:\\backup\\mail\\",
};
static const char *const extensions[] = { ".dll", ".exe", ".doc", ".jpg", ".txt", ".mp3" };

// What a record is drawn from: record `number` of one variant (0 for
// the original, 1 for its replacement).
static Draw
record_draw(uint64_t seed, uint64_t number, int variant)
{
	return Draw{ mix(seed ^ mix(number * 2 + uint64_t(variant))) };
}

// The record in the listing layout, `length` characters long.
static std::string
make_record(uint64_t seed, uint64_t number, int variant, int length)
{
	Draw d = record_draw(seed, number, variant);
	// Sizes spread over many magnitudes, as on a real disk.
	uint64_t digits = 1 + d.below(10);
	uint64_t size = d.next() % 10000000000ull;
	uint64_t limit = 1;
	for (uint64_t i = 0; i < digits; i++)
		limit *= 10;
	size %= limit;
	char text[512];
	int n = snprintf(text, sizeof text, "%10llu|%02d/%02d/%04d|%02d:%02d| %016llX%016llX | %s%08llx%s",
	    (unsigned long long)size, int(1 + d.below(12)), int(1 + d.below(28)),
	    int(1995 + d.below(32)), int(d.below(24)), int(d.below(60)),
	    (unsigned long long)d.next(), (unsigned long long)d.next(),
	    folders[d.below(6)], (unsigned long long)(d.next() & 0xffffffffull),
	    extensions[d.below(6)]);
	std::string record(text, size_t(n));
	record.resize(size_t(length), ' ');
	return record;
}

// The rank of a name among the names, in the order of their bytes.
static uint64_t
rank_of(const char *const *names, int count, int which)
{
	uint64_t rank = 0;
	for (int i = 0; i < count; i++)
		rank += strcmp(names[i], names[which]) < 0;
	return rank;
}

// A number that orders records as their path columns do: the folder, the
// eight hex digits of the name, then the extension.
static uint64_t
path_order(uint64_t seed, uint64_t number, int variant)
{
	std::string record = make_record(seed, number, variant, 100);
	size_t path = record.find(" | ") + 3;
	uint64_t order = 0;
	for (int i = 0; i < 6; i++)
		if (record.compare(path, strlen(folders[i]), folders[i]) == 0)
			order = rank_of(folders, 6, i);
	size_t name = record.find_first_of("0123456789abcdef", record.rfind('\\') + 1);
	order = order << 32 | strtoull(record.substr(name, 8).c_str(), nullptr, 16);
	for (int i = 0; i < 6; i++)
		if (record.compare(name + 8, strlen(extensions[i]), extensions[i]) == 0)
			order = order << 8 | rank_of(extensions, 6, i);
	return order;
}

static std::vector<uint32_t>
shuffled(uint64_t count, uint64_t seed)
{
	std::vector<uint32_t> order(count);
	for (uint64_t i = 0; i < count; i++)
		order[i] = uint32_t(i);
	Draw d{ mix(seed) };
	for (uint64_t i = count; i > 1; i--)
		std::swap(order[i - 1], order[d.below(i)]);
	return order;
}

static std::vector<uint32_t>
sorted_by_path(uint64_t count, uint64_t seed, const std::vector<char> &replaced)
{
	std::vector<std::pair<uint64_t, uint32_t>> keys(count);
	for (uint64_t i = 0; i < count; i++)
		keys[i] = { path_order(seed, i, replaced.empty() ? 0 : replaced[i]), uint32_t(i) };
	std::sort(keys.begin(), keys.end());
	std::vector<uint32_t> order(count);
	for (uint64_t i = 0; i < count; i++)
		order[i] = keys[i].second;
	return order;
}

static bool
write_listing(const char *path, uint64_t seed, const std::vector<uint32_t> &order,
    const std::vector<char> &replaced, int length)
{
	FILE *f = fopen(path, "wb");
	if (!f)
		return false;
	static char buffer[1 << 20];
	setvbuf(f, buffer, _IOFBF, sizeof buffer);
	fputs("sumlist hash listing of c:\\ taken 12/01/2026\r\n----- BEGIN\r\n", f);
	std::string title = "      SIZE|   DATE   | TIME| HASH                             |  PATH  ";
	fprintf(f, "%s\r\n", title.c_str());
	for (uint32_t number : order) {
		std::string r = make_record(seed, number, replaced.empty() ? 0 : replaced[number], length);
		r += "\r\n";
		fwrite(r.data(), 1, r.size(), f);
	}
	fputs("----- END\r\n", f);
	return fclose(f) == 0;
}

int
main(int argc, char **argv)
{
	if (argc != 7 && argc != 8) {
		fprintf(stderr, "usage: make_listings RECORDS LENGTH REPLACED_SHARE SEED FILE1 FILE2"
		    " [shuffled|sorted]\n");
		return 2;
	}
	uint64_t count = strtoull(argv[1], nullptr, 10);
	int length = atoi(argv[2]);
	double share = atof(argv[3]);
	uint64_t seed = strtoull(argv[4], nullptr, 10);
	if (count == 0 || count > 0xffffffffull || length < 80 || length > 400) {
		fprintf(stderr, "make_listings: records 1..2^32-1, length 80..400\n");
		return 2;
	}
	std::vector<char> replaced(count, 0);
	Draw d{ mix(seed + 1) };
	uint64_t wanted = uint64_t(double(count) * share + 0.5);
	for (uint64_t done = 0; done < wanted && done < count;) {
		uint64_t i = d.below(count);
		if (!replaced[i]) {
			replaced[i] = 1;
			done++;
		}
	}
	bool sorted = argc == 8 && strcmp(argv[7], "sorted") == 0;
	if (argc == 8 && !sorted && strcmp(argv[7], "shuffled") != 0) {
		fprintf(stderr, "make_listings: the order is shuffled or sorted\n");
		return 2;
	}
	std::vector<uint32_t> first = sorted ? sorted_by_path(count, seed, {}) :
	    shuffled(count, seed + 2);
	if (!write_listing(argv[5], seed, first, {}, length)) {
		perror("make_listings");
		return 1;
	}
	first.clear();
	first.shrink_to_fit();
	std::vector<uint32_t> second = sorted ? sorted_by_path(count, seed, replaced) :
	    shuffled(count, seed + 3);
	if (!write_listing(argv[6], seed, second, replaced, length)) {
		perror("make_listings");
		return 1;
	}
	return 0;
}
