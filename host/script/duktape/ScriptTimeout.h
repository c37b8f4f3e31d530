/* Added to Duktape's configuration: the interpreter asks, every so many
 * instructions, whether the page it runs has run out of time. */
#ifndef FORMIX4_SCRIPT_TIMEOUT_H
#define FORMIX4_SCRIPT_TIMEOUT_H

#define DUK_USE_INTERRUPT_COUNTER
#define DUK_USE_EXEC_TIMEOUT_CHECK(udata) formix4_script_timed_out(udata)

#ifdef __cplusplus
extern "C"
#endif
    int
    formix4_script_timed_out(void* udata);

#endif
