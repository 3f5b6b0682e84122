#pragma once

// What the idle benchmark reads about a process from /proc.

#include <map>
#include <string>
#include <vector>

#include <sys/types.h>

struct Sample {
    double cpuSeconds = 0;
    long long switches = 0;
    long long rssKb = 0;
    std::map<std::string, long long> byThread; // first process's threads, by name
};

// The processes together, with their live children (helpers): CPU time of
// every thread (schedstat), plus that of children already ended (cutime and
// cstime); voluntary context switches of every thread; resident memory of
// the processes themselves. byThread: the first process's threads.
Sample sample(const std::vector<pid_t>& pids);
