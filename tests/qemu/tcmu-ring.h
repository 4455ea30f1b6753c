/* The command ring of a TCMU device as the kernel lays it out (linux/target_core_user.h,
 * which only a C compiler takes as it is). */
#pragma once
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct iovec; /* the C library's and the kernel's are one layout */

struct tcmu_ring_command {
  void *entry;
  const uint8_t *cdb;        /* in the ring, only as many bytes as the kernel carried */
  const struct iovec *iov;   /* iov_base: offsets from the start of the mapping */
  uint32_t iov_count;
};

/* The oldest command not yet answered, skipping padding and task management;
 * 0 when the ring holds none. */
int tcmu_ring_next(uint8_t *base, struct tcmu_ring_command *command);
/* Answers that command with a SCSI status and sense, and frees its ring space. */
void tcmu_ring_complete(uint8_t *base, const struct tcmu_ring_command *command, uint8_t status,
                        const uint8_t *sense, size_t sense_length);

#ifdef __cplusplus
}
#endif
