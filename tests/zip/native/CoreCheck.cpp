// Native (host) checks of the zip core: round trips, appending, dropping
// entries, and a mutation run that feeds damaged archives to the reader and
// the appender. Built with the sanitizers by run.sh; not part of the Windows build.
#include "ZipCore.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace qxzip;

namespace {

int failures = 0;
#define CHECK(c)                                                        \
    do {                                                                \
        if (!(c)) {                                                     \
            ++failures;                                                 \
            fprintf(stderr, "%s:%d: CHECK failed: %s\n", __FILE__, __LINE__, #c); \
        }                                                               \
    } while (0)

struct Member {
    std::string name, data, comment;
    int method;
};

std::string Bytes(size_t n, unsigned seed, bool text)
{
    std::mt19937 g(seed);
    std::string s(n, 0);
    for (auto& c : s)
        c = text ? (char)('a' + g() % 6) : (char)g();
    return s;
}

bool Write(const std::string& path, const std::vector<Member>& ms, const char* comment, int append)
{
    Writer* w = Writer::Open(path.c_str(), append, nullptr);
    if (!w)
        return false;
    bool ok = true;
    for (const Member& m : ms) {
        ok = ok && w->OpenEntry(m.name.c_str(), 0x58A16000, 0, 0, nullptr, 0, nullptr, 0,
                                m.comment.c_str(), m.method, 6) == kOk;
        ok = ok && w->Write(m.data.data(), (unsigned)m.data.size()) == kOk;
        ok = ok && w->CloseEntry() == kOk;
    }
    ok = w->Close(comment) == kOk && ok;
    delete w;
    return ok;
}

// Reads every entry; returns false at the first failure (no crash allowed).
bool ReadAll(const std::string& path, std::vector<Member>* out)
{
    Reader* r = Reader::Open(path.c_str());
    if (!r)
        return false;
    bool ok = true;
    if (r->directory().entries.empty()) {
        delete r;
        return true;
    }
    for (;;) {
        const Entry* e = r->Current();
        Member m{e->name, "", e->comment, e->method};
        if (r->OpenCurrent() != kOk) {
            ok = false;
            break;
        }
        char buf[3000];
        int n;
        while ((n = r->Read(buf, sizeof buf)) > 0)
            m.data.append(buf, (size_t)n);
        r->CloseCurrent();
        if (n != 0) {
            ok = false;
            break;
        }
        if (out)
            out->push_back(m);
        if (r->GoToNext() != kOk)
            break;
    }
    delete r;
    return ok;
}

std::string Slurp(const std::string& path)
{
    std::string s;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return s;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        s.append(buf, n);
    fclose(f);
    return s;
}

void Spill(const std::string& path, const std::string& s)
{
    FILE* f = fopen(path.c_str(), "wb");
    fwrite(s.data(), 1, s.size(), f);
    fclose(f);
}

}  // namespace

int main(int argc, char** argv)
{
    std::string dir = argc > 1 ? argv[1] : "/tmp";
    int rounds = argc > 2 ? atoi(argv[2]) : 3000;
    std::string a = dir + "/core.zip";
    std::vector<Member> ms = {
        {"d/", "", "", 8},
        {"d/text.txt", Bytes(40000, 1, true), "c1", 8},
        {"bin.dat", Bytes(30000, 2, false), "", 0},
        {"small", "x", "c3", 8},
    };
    CHECK(Write(a, ms, "global", 0));
    std::vector<Member> got;
    CHECK(ReadAll(a, &got));
    CHECK(got.size() == ms.size());
    for (size_t i = 0; i < got.size() && i < ms.size(); ++i) {
        CHECK(got[i].name == ms[i].name);
        CHECK(got[i].data == ms[i].data);
        CHECK(got[i].comment == ms[i].comment);
    }
    // Append, then drop one entry; the rest and the comment stay.
    CHECK(Write(a, {{"late.txt", "late", "", 8}}, nullptr, 1));
    Writer* w = Writer::Open(a.c_str(), 1, "BIN.DAT");
    CHECK(w != nullptr);
    if (w) {
        int found = 1;
        w->Contains("bin.dat", false, &found);
        CHECK(found == 0);
        CHECK(w->Close(nullptr) == kOk);
        delete w;
    }
    got.clear();
    CHECK(ReadAll(a, &got));
    CHECK(got.size() == ms.size());
    {
        FILE* f = fopen(a.c_str(), "rb");
        Directory d;
        CHECK(f && ReadDirectory(f, &d) == kOk && d.comment == "global");
        if (f)
            fclose(f);
    }

    // Mutations: flipped bytes, cut tails, overwritten length fields.
    std::string good = Slurp(a);
    std::mt19937 g(12345);
    std::string m = dir + "/mut.zip";
    int readable = 0;
    for (int i = 0; i < rounds; ++i) {
        std::string bytes = good;
        int kind = (int)(g() % 3);
        if (kind == 0) {
            int flips = 1 + (int)(g() % 8);
            for (int k = 0; k < flips; ++k)
                bytes[g() % bytes.size()] ^= (char)(1 + g() % 255);
        } else if (kind == 1) {
            bytes.resize(g() % bytes.size());
        } else {
            size_t at = bytes.size() - 1 - g() % 200;  // the directory and end record
            bytes[at] = (char)g();
        }
        Spill(m, bytes);
        std::vector<Member> out;
        if (ReadAll(m, &out)) {
            ++readable;
            // Whatever reads without error must be what was written (or a name
            // changed in the directory only).
            for (const Member& x : out)
                for (const Member& y : ms)
                    if (x.name == y.name && x.data != y.data)
                        CHECK(!"damaged data passed as good");
        }
        Writer* ap = Writer::Open(m.c_str(), 1, (i % 2) ? "small" : nullptr);
        if (ap) {
            ap->OpenEntry("new", 0, 0, 0, nullptr, 0, nullptr, 0, nullptr, 8, -1);
            ap->Write("abc", 3);
            ap->CloseEntry();
            ap->Close(nullptr);
            delete ap;
        }
    }
    remove(a.c_str());
    remove(m.c_str());
    printf("%d mutated archives, %d read without error, %d failure(s)\n", rounds, readable,
           failures);
    return failures ? 1 : 0;
}
