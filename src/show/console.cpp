// What goes where, and in which order.
#include "show/console.h"

namespace {

// What is about to go to standard error, as far as the status row is concerned.
enum class text_kind {
    own_line,  // starts with a newline: a block's report, the summary
    notice,    // an end-of-input notice; the status line of its pass follows it
    failure,   // a read error, an incomplete copy; it belongs below the last status line
};

// Shows the newest figures on the row.
void show(console& con)
{
    char line[terminal_line_room];
    std::size_t length = printer_line(con.printer, line, con.row.terminal, row_width(con.row));
    row_print(con.row, con.out, line, length);
}

// The status line of a pass. Off a terminal every pass gets one; on a
// terminal the row shows the newest figures when it is empty or its figures
// are refresh_interval_ms old.
void show_pass(console& con, const compare_tally& tally, const progress_meter& meter,
               std::int64_t now_ms)
{
    printer_take(con.printer, tally, meter, now_ms);
    if (!con.row.terminal || !con.row.live || printer_due(con.printer))
        show(con);
}

// Makes way for text on standard error. Standard output is flushed first,
// so that a log holding both streams reads in order. Where that text lands
// on the row's screen, the newest figures are shown first, and the cursor
// leaves the row for a failure; a notice gets the row cleared instead,
// since its own status line comes after it.
void make_way(console& con, text_kind text)
{
    if (con.row.terminal && con.errors_on_screen) {
        if (text == text_kind::notice) {
            row_clear(con.row, con.out);
            con.printer.shown = false;
        } else {
            if (!con.printer.shown)
                show(con);
            if (text == text_kind::failure)
                row_leave(con.row, con.out);
            else
                row_yield(con.row);
        }
    }
    output_flush(con.out);
}

// The newest figures on screen, and the cursor on a fresh row below them.
void end_row(console& con)
{
    if (con.row.terminal && !con.printer.shown)
        show(con);
    row_leave(con.row, con.out);
    output_flush(con.out);
}

}  // namespace

console make_console(std::FILE* out, std::FILE* err, bool terminal, bool errors_on_screen,
                     int width_fd, std::optional<std::uint64_t> length)
{
    console con;
    con.out = make_output(out);
    con.err = make_output(err);
    con.errors_on_screen = errors_on_screen;
    con.row.terminal = terminal;
    if (terminal) {
        con.row.width_fd = width_fd;
        con.printer.length = length;
    }
    return con;
}

void console_pass(console& con, const compare_tally& tally, const progress_meter& meter,
                  std::int64_t now_ms)
{
    if (con.ending) {
        // The run ends with this pass: its line shows the run's end figures,
        // after the comparison (see console_run_ended).
        con.printer.now_ms = now_ms;
        return;
    }
    show_pass(con, tally, meter, now_ms);
}

void console_block_differs(console& con)
{
    make_way(con, text_kind::own_line);
    write_report_opening(con.err);
}

bool console_block_done(console& con, int retries)
{
    write_report_closing(con.err, retries);
    output_flush(con.err);
    return con.err.error == 0;
}

void console_unreadable(console& con, int which, const unreadable_stretch& stretch, bool in_report)
{
    if (!in_report)
        make_way(con, text_kind::failure);
    write_unreadable_stretch(con.err, which, stretch.from, stretch.to, stretch.error_number);
    if (!in_report)
        output_flush(con.err);
}

void console_input_ended(console& con, int which, std::uint64_t at)
{
    make_way(con, text_kind::notice);
    write_end_of_input(con.err, which, at);
    output_flush(con.err);
    con.ending = true;
}

void console_caveat(console& con, int which, const std::string& name, const medium_caveat& caveat)
{
    if (caveat.kind == caveat_kind::none)
        return;
    make_way(con, text_kind::failure);
    if (caveat.kind == caveat_kind::disk_closed)
        write_disk_caveat(con.err, which, name, caveat.disk, caveat.error_number);
    else if (caveat.kind == caveat_kind::disk_unnamed)
        write_unnamed_disk_caveat(con.err, which, name);
    else if (caveat.kind == caveat_kind::raw_disk)
        write_raw_disk_caveat(con.err, which, name, caveat.disk);
    else
        write_system_caveat(con.err, which, name);
    output_flush(con.err);
}

void console_read_failed(console& con, int which, int error_number, const compare_tally& tally,
                         const progress_meter& meter)
{
    show_pass(con, tally, meter, con.printer.now_ms);
    make_way(con, text_kind::failure);
    write_read_error(con.err, which, error_number);
    output_flush(con.err);
}

bool console_run_ended(console& con, run_end how, const compare_tally& tally,
                       const progress_meter& meter, const shortfall& missing,
                       const unreadable_tallies& unreadable, const checksum_verdict* checksum)
{
    if (how == run_end::finished) {
        // The last status line shows the figures of the summary.
        show_pass(con, tally, meter, con.printer.now_ms);
        if (missing.file != 0) {
            make_way(con, text_kind::failure);
            if (missing.nothing_compared)
                write_nothing_compared(con.err, missing.file);
            else
                write_incomplete_copy(con.err, missing.file, missing.at);
            output_flush(con.err);
        }
    }
    for (int k = 0; k < 2; ++k)
        if (unreadable[k].open)
            console_unreadable(con, k + 1, *unreadable[k].open, false);
    for (int k = 0; k < 2; ++k)
        if (unreadable[k].bytes > 0) {
            make_way(con, text_kind::failure);
            write_unreadable_total(con.err, k + 1, unreadable[k].bytes, unreadable[k].stretches);
            output_flush(con.err);
        }
    if (checksum) {
        make_way(con, text_kind::failure);
        write_checksum_verdict(con.err, *checksum);
        output_flush(con.err);
    }
    // An interrupted run did not finish, and a report that could not be
    // written takes the summary with it.
    if ((how == run_end::finished || how == run_end::read_error) && con.err.error == 0) {
        make_way(con, text_kind::own_line);
        write_summary(con.err, tally);
        output_flush(con.err);
    }
    end_row(con);
    if (con.out.error != 0 && con.err.error == 0)
        write_output_failure(con.err, con.out.error);
    output_flush(con.err);
    return con.out.error == 0 && con.err.error == 0;
}
