// Parses and decodes header+preview texts of the regression corpus the way a check does
// (HeaderText::Fill, which runs DecodeRecord) and prints records per second and heap
// allocations per record. Usage: parse_bench [records] [corpus folder]
#include "headertext.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>
#include <vector>

namespace
{
std::atomic<unsigned long long> gAllocations{0};
}

// Every heap allocation of the program passes here, so the count per record is exact.
void* operator new(std::size_t size)
{
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size)
{
    return operator new(size);
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete[](void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept
{
    std::free(p);
}

namespace
{

struct Sample {
    std::string name;
    std::string text;
};

std::vector<Sample> LoadCorpus(const std::string& dir)
{
    std::vector<Sample> samples;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() != ".eml")
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        samples.push_back(
            {entry.path().stem().string(), std::string(std::istreambuf_iterator<char>(in), {})});
    }
    std::sort(samples.begin(), samples.end(),
              [](const Sample& a, const Sample& b) { return a.name < b.name; });
    return samples;
}

double CpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

struct Result {
    double seconds; // wall clock
    double cpu;     // this thread's processor time: the figure for one core on a busy machine
    unsigned long long allocations;
    size_t bytes;
};

Result Run(const std::vector<const Sample*>& order, size_t records)
{
    size_t bytes = 0;
    size_t checksum = 0;
    const unsigned long long before = gAllocations.load();
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = CpuSeconds();
    for (size_t i = 0; i < records; ++i) {
        const std::string& text = order[i % order.size()]->text;
        MessageRecord record;
        HeaderText(text).Fill(record, text.size());
        checksum += record.subject.size() + record.preview.size();
        bytes += text.size();
    }
    const double cpu = CpuSeconds() - cpuStart;
    const auto stop = std::chrono::steady_clock::now();
    const unsigned long long allocations = gAllocations.load() - before;
    if (checksum == 0)
        std::puts("(empty results)");
    return {std::chrono::duration<double>(stop - start).count(), cpu, allocations, bytes};
}

void Print(const char* label, size_t records, const Result& r)
{
    std::printf("%-31s %7zu records %8.0f rec/s cpu %8.0f rec/s wall %6.1f MB/s cpu %5.1f "
                "allocs/rec\n",
                label, records, records / r.cpu, records / r.seconds, r.bytes / r.cpu / 1e6,
                static_cast<double>(r.allocations) / records);
}

} // namespace

int main(int argc, char** argv)
{
    const size_t records = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 100000;
    const std::string dir = argc > 2 ? argv[2] : POSTWATCH_MAIL_CORPUS;
    const std::vector<Sample> samples = LoadCorpus(dir);
    if (samples.empty() || records == 0) {
        std::fprintf(stderr, "parse_bench: no .eml files in %s\n", dir.c_str());
        return 1;
    }
    std::vector<const Sample*> all;
    for (const Sample& s : samples)
        all.push_back(&s);
    Run(all, std::min<size_t>(records, 1000)); // warm up caches and iconv descriptors
    Print("all shapes, round robin", records, Run(all, records));
    for (const Sample& s : samples)
        Print(s.name.c_str(), records / 10, Run({&s}, records / 10));
    return 0;
}
