/* A qemu TCG plugin modelling the console processor's data cache on every guest load and store, to
 * count what the memory costs beside the instructions (console/insn_count.c counts those): 16 KB,
 * 4 ways of 128 sets, 32-byte lines, round-robin replacement in each set, read-allocate (a load
 * that misses fills the line; a store that misses goes to the write buffer and leaves the cache
 * as it is), write-back (a store that hits marks the line dirty, and a dirty line is written back
 * when a fill evicts it). Prints at exit:
 *   fills N          lines read from memory
 *   writebacks N     dirty lines written back
 *   buffered N       stores that missed and went to the write buffer
 * The plugin API header is not packaged, so the few functions used are declared here as the API
 * (version 1) gives them. User-mode emulation has one processor, so no locking is needed. */
#include <inttypes.h>
#include <stdbool.h>
#include <stdint.h>
#include <stdio.h>

typedef uint64_t qemu_plugin_id_t;
typedef uint32_t qemu_plugin_meminfo_t;
struct qemu_plugin_tb;
struct qemu_plugin_insn;
typedef struct {
    int system_emulation;
} qemu_info_t; /* only passed through */
enum qemu_plugin_cb_flags { QEMU_PLUGIN_CB_NO_REGS };
enum qemu_plugin_mem_rw { QEMU_PLUGIN_MEM_R = 1, QEMU_PLUGIN_MEM_W, QEMU_PLUGIN_MEM_RW };
typedef void (*qemu_plugin_vcpu_mem_cb_t)(unsigned int vcpu, qemu_plugin_meminfo_t info, uint64_t vaddr,
                                          void* userdata);

extern void qemu_plugin_register_vcpu_tb_trans_cb(qemu_plugin_id_t id,
                                                  void (*cb)(qemu_plugin_id_t, struct qemu_plugin_tb*));
extern size_t qemu_plugin_tb_n_insns(const struct qemu_plugin_tb* tb);
extern struct qemu_plugin_insn* qemu_plugin_tb_get_insn(const struct qemu_plugin_tb* tb, size_t idx);
extern void qemu_plugin_register_vcpu_mem_cb(struct qemu_plugin_insn* insn, qemu_plugin_vcpu_mem_cb_t cb,
                                             enum qemu_plugin_cb_flags flags, enum qemu_plugin_mem_rw rw,
                                             void* userdata);
extern unsigned int qemu_plugin_mem_size_shift(qemu_plugin_meminfo_t info);
extern bool qemu_plugin_mem_is_store(qemu_plugin_meminfo_t info);
extern void qemu_plugin_register_atexit_cb(qemu_plugin_id_t id, void (*cb)(qemu_plugin_id_t, void*), void* userdata);

__attribute__((visibility("default"))) int qemu_plugin_version = 1;

enum { Ways = 4, Sets = 128, LineShift = 5 };

static uint32_t tags[Sets][Ways]; /* line address (address >> LineShift), valid and dirty beside it */
static bool valid[Sets][Ways], dirty[Sets][Ways];
static uint8_t next[Sets]; /* the way the next fill of the set replaces */
static uint64_t fills, writebacks, buffered;

/* One access to one line. */
static void touch(uint32_t line, bool store) {
    const uint32_t set = line % Sets;
    for (int w = 0; w < Ways; w++) {
        if (valid[set][w] && tags[set][w] == line) {
            if (store) dirty[set][w] = true;
            return;
        }
    }
    if (store) {
        buffered++;
        return;
    }
    const int w = next[set];
    next[set] = (uint8_t)((w + 1) % Ways);
    if (valid[set][w] && dirty[set][w]) writebacks++;
    tags[set][w] = line;
    valid[set][w] = true;
    dirty[set][w] = false;
    fills++;
}

static void accessed(unsigned int vcpu, qemu_plugin_meminfo_t info, uint64_t vaddr, void* userdata) {
    (void)vcpu;
    (void)userdata;
    const bool store = qemu_plugin_mem_is_store(info);
    const uint32_t first = (uint32_t)(vaddr >> LineShift);
    const uint32_t last = (uint32_t)((vaddr + (1u << qemu_plugin_mem_size_shift(info)) - 1) >> LineShift);
    touch(first, store);
    if (last != first) touch(last, store); /* an access across two lines (never aligned ones) */
}

static void translated(qemu_plugin_id_t id, struct qemu_plugin_tb* tb) {
    (void)id;
    const size_t n = qemu_plugin_tb_n_insns(tb);
    for (size_t i = 0; i < n; i++)
        qemu_plugin_register_vcpu_mem_cb(qemu_plugin_tb_get_insn(tb, i), accessed, QEMU_PLUGIN_CB_NO_REGS,
                                         QEMU_PLUGIN_MEM_RW, NULL);
}

static void finished(qemu_plugin_id_t id, void* userdata) {
    (void)id;
    (void)userdata;
    fprintf(stderr, "fills %" PRIu64 "\nwritebacks %" PRIu64 "\nbuffered %" PRIu64 "\n", fills, writebacks, buffered);
}

__attribute__((visibility("default"))) int qemu_plugin_install(qemu_plugin_id_t id, const qemu_info_t* info, int argc,
                                                               char** argv) {
    (void)info;
    (void)argc;
    (void)argv;
    qemu_plugin_register_vcpu_tb_trans_cb(id, translated);
    qemu_plugin_register_atexit_cb(id, finished, NULL);
    return 0;
}
