/* Loads the library, fills both tables, unloads it; 200 times.  Resident
 * memory after the warm-up cycles must stay flat: unloading frees every
 * variable entry and program block. */
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

typedef int (*vinsert_fn)(const char*, double);
typedef int (*exprpost_fn)(const char*);

static long resident_kib(void) {
    long pages = 0, resident = 0;
    FILE* statm = fopen("/proc/self/statm", "r");
    if (!statm) return -1;
    if (fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = -1;
    fclose(statm);
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

static int fill_tables(void* library, const char* formula) {
    void* vinsert_address = dlsym(library, "vinsert");
    void* exprpost_address = dlsym(library, "exprpost");
    vinsert_fn vinsert;
    exprpost_fn exprpost;
    char name[16];
    int i;
    if (!vinsert_address || !exprpost_address) return 0;
    /* POSIX guarantees the conversion; ISO C only through the bytes. */
    memcpy(&vinsert, &vinsert_address, sizeof vinsert);
    memcpy(&exprpost, &exprpost_address, sizeof exprpost);
    for (i = 0; i < 100; ++i) {
        snprintf(name, sizeof name, "v%d", i);
        if (vinsert(name, i) != 0) return 0;
        if (exprpost(formula) != i) return 0;
    }
    return 1;
}

int main(int argc, char** argv) {
    static char formula[4001];
    long warm = 0, now = 0;
    int cycle;
    if (argc < 2) return 2;
    /* about 5.6 MB of programs per cycle */
    for (cycle = 0; cycle + 2 < (int)sizeof formula; cycle += 2) memcpy(formula + cycle, "1+", 2);
    formula[sizeof formula - 2] = '1';

    for (cycle = 0; cycle < 200; ++cycle) {
        void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
        if (!library) {
            fprintf(stderr, "dlopen: %s\n", dlerror());
            return 1;
        }
        if (!fill_tables(library, formula)) {
            fprintf(stderr, "cycle %d: the tables did not start empty\n", cycle);
            return 1;
        }
        dlclose(library);
        if (cycle == 20) warm = resident_kib();
    }
    now = resident_kib();
    printf("resident: %ld KiB after 20 cycles, %ld KiB after 200\n", warm, now);
    return now - warm < 8 * 1024 ? 0 : 1;
}
