/* A qemu TCG plugin counting the guest instructions executed: each translated block adds its
 * instruction count when it runs. Prints "instructions N" at exit. The plugin API header is not
 * packaged, so the few functions used are declared here as the API (version 1) gives them. */
#include <inttypes.h>
#include <stdint.h>
#include <stdio.h>

typedef uint64_t qemu_plugin_id_t;
struct qemu_plugin_tb;
typedef struct {
    int system_emulation;
} qemu_info_t; /* only passed through */
enum qemu_plugin_cb_flags { QEMU_PLUGIN_CB_NO_REGS };
enum qemu_plugin_op { QEMU_PLUGIN_INLINE_ADD_U64 };

extern void qemu_plugin_register_vcpu_tb_trans_cb(qemu_plugin_id_t id,
                                                  void (*cb)(qemu_plugin_id_t, struct qemu_plugin_tb*));
extern void qemu_plugin_register_vcpu_tb_exec_inline(struct qemu_plugin_tb* tb, enum qemu_plugin_op op, void* ptr,
                                                     uint64_t imm);
extern size_t qemu_plugin_tb_n_insns(const struct qemu_plugin_tb* tb);
extern void qemu_plugin_register_atexit_cb(qemu_plugin_id_t id, void (*cb)(qemu_plugin_id_t, void*), void* userdata);

__attribute__((visibility("default"))) int qemu_plugin_version = 1;

static uint64_t executed;

static void translated(qemu_plugin_id_t id, struct qemu_plugin_tb* tb) {
    (void)id;
    qemu_plugin_register_vcpu_tb_exec_inline(tb, QEMU_PLUGIN_INLINE_ADD_U64, &executed, qemu_plugin_tb_n_insns(tb));
}

static void finished(qemu_plugin_id_t id, void* userdata) {
    (void)id;
    (void)userdata;
    fprintf(stderr, "instructions %" PRIu64 "\n", executed);
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
