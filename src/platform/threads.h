// The second processor: two pieces of work at once, or one piece going on
// behind the caller's back.  Where no thread can be had, the work is done
// on the calling thread instead, so the result never depends on threads.
#pragma once

#include <cstddef>
#include <exception>
#include <functional>
#include <thread>
#include <vector>

// Runs `other` on a second thread while this thread runs `mine`; both are
// done on return.  Without a second thread, `other` runs first, here.
template <class Other, class Mine>
void
run_two(Other &&other, Mine &&mine)
{
	std::thread helper;
	try {
		helper = std::thread(std::ref(other));
	} catch (const std::exception &) {
		other();
	}
	mine();
	if (helper.joinable())
		helper.join();
}

// Runs work(from, to) over the items 0 to count in two halves at once:
// the second half on a second thread, the first on this one.
template <class Work>
void
run_halves(size_t count, Work &&work)
{
	size_t half = count / 2;
	run_two([&] { work(half, count); }, [&] { work(size_t(0), half); });
}

// Runs `mine` on this thread while up to `extra` other threads run
// `helper`; all are done on return.  Threads that can't be had are left
// out, so `mine` must be able to finish the work alone.
template <class Helper, class Mine>
void
run_n(int extra, Helper &&helper, Mine &&mine)
{
	std::vector<std::thread> helpers;
	for (int i = 0; i < extra; i++) {
		try {
			helpers.emplace_back(std::ref(helper));
		} catch (const std::exception &) {
			break;
		}
	}
	mine();
	for (std::thread &started : helpers)
		started.join();
}

// Work started on a second thread, owned by whoever started it: it waits
// for the work, or abandons it by ending the process, which never waits
// for it nor destroys the handle.
struct Background {
	std::thread thread;
};

// Starts the work on a second thread, or does it now when there is none.
template <class Work>
Background
start_background(Work work)
{
	Background started;
	try {
		started.thread = std::thread(work);
	} catch (const std::exception &) {
		work();
	}
	return started;
}

// Starts the work on a second thread; false, and the work not done, when
// there is none.  For work that only adds to what this thread does.
template <class Work>
bool
start_background_if_possible(Background &started, Work work)
{
	try {
		started.thread = std::thread(work);
	} catch (const std::exception &) {
		return false;
	}
	return true;
}

// Whether the work was started on a second thread and not yet waited for.
inline bool
is_running(const Background &work)
{
	return work.thread.joinable();
}

inline void
wait_for(Background &work)
{
	if (work.thread.joinable())
		work.thread.join();
}
