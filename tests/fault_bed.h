/*
 * The bed of the fault table: a simulated host, a syslog of its own, and
 * the daemon under test, with what a row needs to inject a fault and see
 * what came of it.
 */
#ifndef MORVEND_TESTS_FAULT_BED_H
#define MORVEND_TESTS_FAULT_BED_H

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/testbed.h"

using Lines = std::vector<std::string>;

struct Bed {
	SimHost host;
	LogSocket log{ host };
	std::string swap_file = host.swap_file;
	std::string config;
	std::function<void()> in_child;
	std::vector<std::string> env;
	std::unique_ptr<Daemon> daemon;
	int probes_at_inject = 0;
	std::size_t commands_at_inject = 0;
	Lines taken;
	std::string first_to_go;
	UniqueFd other_lock; /* a lock held as another daemon would */

	void start();
	/*
	 * Takes in what the daemon logged so far: a syslog socket holds ten
	 * datagrams, and a daemon whose log is not read blocks.  Always true.
	 */
	bool drained();
	/*
	 * The log with the swap file's path as SWAP, its directory as
	 * SWAPDIR, the host's own as HOST/, and each number as #.
	 */
	Lines told();
	/* The daemon is gone; another one starts on the same swap file. */
	void restart();
	std::vector<SimHost::Unit> ours() const;
	/* Whether a command since the fault named the unit. */
	bool ran_on(const std::string &unit) const;
	/* The device node of our one device. */
	std::string our_device() const;
	void by_hand(Lines words) const;
	long largest_active() const;
	/* A fault that lasts until it is cleared. */
	void inject_fault(const char *kind) const;
	bool fault_met(const char *kind, int times) const;
	void clear_fault(const char *kind) const;
	static constexpr int lasting = 1000;
	/* The tool was told to do its work and die, and it has. */
	void die_after(const char *kind) const;
	bool died(const char *kind) const;
	/* Takes two of our four devices away by hand. */
	void free_two_by_hand() const;
	/* Cycles since the fault in which the daemon ran no command. */
	bool quiet_cycles(int cycles) const;
	/* More configuration lines, then SIGHUP. */
	void reload_with(const std::string &more) const;
	/* Free swap drops to 54 MiB, under the floor of 64. */
	void press() const;
	/* Free swap rises to 264 MiB, over the ceiling of 128. */
	void relieve() const;
	bool none_of_ours() const;
	/* How many of our devices serve as swap. */
	std::size_t serving() const;
	/* The commands since the fault that start so. */
	Lines since_inject(const std::string &prefix) const;
	/*
	 * A stop whose swapoff stays refused exits 0 and leaves the device in
	 * service; the next daemon takes it back without a new one.
	 */
	void stop_refused_then_restart(const std::function<void()> &refuse,
	    const std::function<void()> &allow);
	/*
	 * Presses until four devices serve, kills the daemon and starts
	 * another, with more configuration.
	 */
	void kill_with_four_and_restart(const std::string &more = "");
	/* The new daemon looked at the system and left our device be. */
	bool took_back() const;
};

#endif
