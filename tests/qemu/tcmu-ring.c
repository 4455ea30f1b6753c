#include <linux/target_core_user.h>
#include <stddef.h>
#include <string.h>

#include "tcmu-ring.h"

static struct tcmu_cmd_entry *at_tail(uint8_t *base) {
  struct tcmu_mailbox *mailbox = (struct tcmu_mailbox *)base;
  return (struct tcmu_cmd_entry *)(base + mailbox->cmdr_off + mailbox->cmd_tail);
}

static void advance(uint8_t *base, const struct tcmu_cmd_entry *entry) {
  struct tcmu_mailbox *mailbox = (struct tcmu_mailbox *)base;
  const uint32_t tail = mailbox->cmd_tail + tcmu_hdr_get_len(entry->hdr.len_op);
  __atomic_store_n(&mailbox->cmd_tail, tail % mailbox->cmdr_size, __ATOMIC_RELEASE);
}

int tcmu_ring_next(uint8_t *base, struct tcmu_ring_command *command) {
  struct tcmu_mailbox *mailbox = (struct tcmu_mailbox *)base;
  while (__atomic_load_n(&mailbox->cmd_head, __ATOMIC_ACQUIRE) != mailbox->cmd_tail) {
    struct tcmu_cmd_entry *entry = at_tail(base);
    if (tcmu_hdr_get_op(entry->hdr.len_op) == TCMU_OP_CMD) {
      command->entry = entry;
      command->cdb = base + entry->req.cdb_off;
      command->iov = (const struct iovec *)((uint8_t *)entry + offsetof(struct tcmu_cmd_entry, req.iov));
      command->iov_count = entry->req.iov_cnt;
      return 1;
    }
    advance(base, entry);
  }
  return 0;
}

void tcmu_ring_complete(uint8_t *base, const struct tcmu_ring_command *command, uint8_t status,
                        const uint8_t *sense, size_t sense_length) {
  struct tcmu_cmd_entry *entry = command->entry;
  entry->rsp.scsi_status = status;
  memset(entry->rsp.sense_buffer, 0, sizeof entry->rsp.sense_buffer);
  memcpy(entry->rsp.sense_buffer, sense,
         sense_length < sizeof entry->rsp.sense_buffer ? sense_length : sizeof entry->rsp.sense_buffer);
  advance(base, entry);
}
