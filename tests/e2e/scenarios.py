"""The end-to-end scenarios: korvanel's command line, the simulated charger's
behaviour, what is typed and when, and what must come out of it all.

Each scenario runs the real program against charger-sim on pseudo-terminals.
The expected console output is built from the program's texts below and
compared byte for byte; only the digits of an elapsed time are matched by
pattern (and checked against a range).
"""

from dataclasses import dataclass, field
from typing import Dict, List, Optional, Tuple

# ---------------------------------------------------------------------------
# Where Wine cannot follow: the scenarios that need these run natively only.

NATIVE_ONLY = {
    "exclusive": "exclusive access to a port: under Wine a second open of a port that "
                 "another process holds succeeds",
    "hangup": "a hang-up: under Wine reads on a pseudo-terminal whose other side has "
              "gone away just time out instead of failing",
}

# ---------------------------------------------------------------------------
# Building blocks of the expected output.


@dataclass(frozen=True)
class Elapsed:
    """An elapsed time hh:mm:ss in the output, within lo..hi seconds."""
    lo: int = 0
    hi: int = 5


def seq(*parts):
    """Flattens bytes, Elapsed markers and nested lists into one list."""
    out = []
    for part in parts:
        if isinstance(part, (list, tuple)):
            out.extend(seq(*part))
        elif part:
            out.append(part)
    return out


BANNER = (b"\nRQX / HWN Flash Downloader Program for Windows V1.14\n"
          b"(c) 2008-2026 The korvanel developers, free to use for servicing chargers\n"
          b"\n")
PROMPT = b"Enter COM Port number, follow by ENTER > "
CLOSING = b"Press Any Key to Continue"
USAGE = (b"\nKorvanel Usage:\n"
         b"/V For Version Only\n"
         b"FileName To Program\n"
         b"/C To specify Comm Port\n"
         b"\nExamples:\n"
         b"\nKorvanel /V /C2             to get Version using Com2\n"
         b"Korvanel a:\\QEv170.hex /C1  to program using Com1\n"
         b"Korvanel a:\\QEv170.hex      to program, Ask for Com Port Number\n\n")
TIMEOUT_TEXT = b"\nError: Timeout while waiting for response from Charger\n"
HINTS = (b"No Response From the Charger.\n"
         b"Check the Cables, the Charger, verify the COM Port number, then Try Again.\n")

# What the charger says by default, and the commands it receives.
VER_REPLY = b"Charger Firmware Version 4.12 (2026-05-20)\r\n"
BTV_REPLY = b"Bootloader Version 1.7\r\n"
BEGIN = b"Begin file transfer...\r\n"
FINAL = b"System will now start new program.\r\n"
LINE_OK = b"OK\r\n"
VER_CMD = b"ver\r\0\0\0"
BTV_CMD = b"btv\r\0\0\0"
ERASE_CMD = b"erase\r"


def port_search(ports):
    listed = b", ".join(b"%d" % p for p in ports)
    return b"Free COM port(s) detected: " + listed + b"\n\n" + PROMPT


def using(port):
    return b"Using Serial Port COM %d\n" % port


def until_nul(reply):
    return reply.split(b"\0")[0]


def version_ok(reply=VER_REPLY):
    return b"Getting Version\r" + until_nul(reply) + b"\n\n"


def version_timeout():
    return b"Getting Version" + TIMEOUT_TEXT + b"\rError Getting Version\n\n\n"


def version_open_failed(port):
    return b"Getting Version\nError: Comm Port %d Open Failed\n\n\n" % port


def requirement(minimum):
    return b"The program requires bootloader  " + minimum + b" or greater.\n"


def bootloader_ok(reply=BTV_REPLY):
    return b"Bootloader Version\r" + until_nul(reply) + b"\n\n"


def bootloader_refused(minimum, reply=BTV_REPLY):
    return b"Bootloader Version\r" + until_nul(reply) + requirement(minimum) + b"\n\n"


def bootloader_unreadable(minimum, reply):
    return (b"Bootloader Version\r" + until_nul(reply) + b"Error Getting Bootloader Version\n"
            + requirement(minimum) + b"\n\n")


def confirmation(file_name, program):
    return (b"Press the 'P' key to Program the Charger with " + file_name.encode() + b"\n"
            b"Press Any Other Key to Quit without Programming\n"
            b"? > \b\b\b>" + (b"Program" if program else b"Cancel") + b"\n\n")


def current_version(text=None):
    return b"Current Version:\n" + (text if text is not None else version_ok())


def new_version(text=None):
    return b"New Version:\n" + (text if text is not None else version_ok())


def shown(reply):
    """A reply as the progress line shows it: NUL and STX made visible, CR
    and LF dropped, an empty one as []."""
    if not reply:
        return b"[]"
    out = b""
    for byte in reply:
        if byte == 0:
            out += b"[0]"
        elif byte == 2:
            out += b"[2]"
        elif byte not in (10, 13):
            out += bytes([byte])
    return out


def erase_done(erasing_lines=2, second_erase=False):
    """The console line of a good erase: each line the charger sends while
    it erases, then the start signal, which is not shown."""
    return (b"Erasing Flash" + (b"\rErasing Flash 2" if second_erase else b"")
            + b"\rErasing..." * erasing_lines + b"\rErase Flash Done           ")


def closing(elapsed=Elapsed(0, 0)):
    return [b"Total Elapsed Time ", elapsed, b"\n\n\a"]


def closing_success(final=FINAL):
    return [b"\rReprogramming Completed OK             \n" + final + b"\n",
            b"Total Elapsed Time ", Elapsed(0, 5), b"\n\nWait...\r        \r\n\a"]


# ---------------------------------------------------------------------------
# HEX files, generated with correct checksums.


def record(address, data, kind=0):
    body = bytes([len(data), address >> 8, address & 0xFF, kind]) + bytes(data)
    checksum = (-sum(body)) & 0xFF
    return ":" + (body + bytes([checksum])).hex().upper()


EOF_RECORD = ":00000001FF"


def data_records(count, size=16, start=0):
    return [record(start + i * size, [(start + i * size + j) & 0xFF for j in range(size)])
            for i in range(count)]


def hex_file(lines, eol=b"\r\n"):
    return b"".join(line.encode() + eol for line in lines)


def text_pieces(content):
    """The pieces the program sends, as the C runtime's text mode reads the
    file: CR LF as LF, Ctrl-Z ends it, at most 99 characters a piece."""
    text = content.split(b"\x1a")[0].replace(b"\r\n", b"\n")
    pieces = []
    start = 0
    while start < len(text):
        newline = text.find(b"\n", start)
        end = len(text) if newline < 0 else newline + 1
        end = min(end, start + 99)
        pieces.append(text[start:end])
        start = end
    sent = []
    for piece in pieces:
        sent.append(piece)
        if piece[:11].upper() == EOF_RECORD.encode():
            break
    return sent


def transfer(content, replies=None, stop_after=None):
    """Progress text and reply echo of each piece; replies maps a piece
    number (from 1) to its reply; stop_after ends after that piece's
    progress text (the piece whose reply never came)."""
    replies = replies or {}
    size = len(content)
    count = 0
    out = []
    for number, piece in enumerate(text_pieces(content), start=1):
        count += len(piece) + 1
        out += [b"\rProgramming = %d%% " % (count * 100 // size), Elapsed(0, 5), b"    "]
        if number == stop_after:
            break
        out.append(b"[" + shown(replies.get(number, LINE_OK)) + b"]")
    return out


def sent_bytes(content):
    return b"".join(text_pieces(content))


# The files of the scenarios: five 16-byte records and the end-of-file record.
FW_LINES = data_records(5) + [EOF_RECORD]
FW_CRLF = hex_file(FW_LINES)
FW_LF = hex_file(FW_LINES, b"\n")
# A 150-character line (a record of 69 data bytes and one blank) goes out as
# 99 + 52 bytes; the end-of-file record in lower case still ends the file,
# and the record after it is never sent.
LONG_RECORD = record(0x0100, list(range(69))) + " "
LONG_LINES = data_records(1) + [LONG_RECORD] + data_records(1, start=0x0200) + [EOF_RECORD.lower()] \
    + data_records(1, start=0x0300)
LONG_FILE = hex_file(LONG_LINES)
assert [len(piece) for piece in text_pieces(LONG_FILE)] == [44, 99, 52, 44, 12]
NO_EOF_FILE = hex_file(data_records(3))
BAD_SUM_LINES = data_records(2) + [data_records(1, start=0x20)[0][:-2] + "00"] + [EOF_RECORD]
BAD_SUM_FILE = hex_file(BAD_SUM_LINES)

# ---------------------------------------------------------------------------
# The table's records.


@dataclass
class Charger:
    """One charger-sim on COM port; the defaults erase quickly."""
    port: int = 5
    ver: bytes = VER_REPLY
    ver_delay: int = 20
    ver_silent_first: int = 0
    btv: bytes = BTV_REPLY
    erase_echo: bool = False
    erase_first: bytes = b""
    erase_silent: bool = False
    erasing_lines: int = 2
    erase_start_delay: int = 0
    erase_gap: int = 50
    begin: bytes = BEGIN
    line_reply: bytes = LINE_OK
    reply_at: Dict[int, bytes] = field(default_factory=dict)
    hangup_after: int = 0
    final: bytes = FINAL
    exit_after_final: bool = False
    # Another process holds the port open all through the run.
    held: bool = False


@dataclass
class Typed:
    """Bytes typed once `after` has appeared in the output (searched from
    where the previous one was found). discard: the program throws away
    pending keys after printing `after`, so the keys must come after that."""
    after: bytes
    data: bytes
    discard: bool = False


@dataclass
class Scenario:
    name: str
    argv: List[str]
    expect: list
    exit_code: int
    chargers: List[Charger] = field(default_factory=list)
    typed: List[Typed] = field(default_factory=list)
    files: Dict[str, bytes] = field(default_factory=dict)
    # port -> the exact bytes the charger received
    received: Dict[int, bytes] = field(default_factory=dict)
    # port -> counters the charger must report
    counters: Dict[int, Dict[str, int]] = field(default_factory=dict)
    # the last progress percentage shown
    last_percent: Optional[int] = None
    # (lo, hi) seconds the whole run must take
    duration: Optional[Tuple[float, float]] = None
    # seconds after which the run is a failure
    bound: float = 30
    native_only: Optional[str] = None


ENTER = b"\r"


def answer(port_text):
    return Typed(PROMPT, port_text + ENTER)


def key_at_confirmation(key):
    return Typed(b"? > ", key, discard=True)


def closing_key(key=b"x"):
    return Typed(CLOSING, key)


SCENARIOS: List[Scenario] = []


def add(scenario):
    SCENARIOS.append(scenario)


# --- usage run and typed port answers ---------------------------------------

for name, text, port in [
    ("usage_run", b"7", 7),
    ("answer_leading_blank", b" 7", 7),
    ("answer_digits_then_letters", b"7abc", 7),
    ("answer_letters_only", b"abc", 0),
    ("answer_minus_one", b"-1", 65535),
    ("answer_only_19_characters_count", b"0000000000000000005999", 5),
]:
    add(Scenario(
        name, [],
        seq(BANNER, port_search([]), using(port), USAGE, CLOSING), 9,
        typed=[answer(text), closing_key()], bound=15))

# --- the option table ----------------------------------------------------------

add(Scenario(
    "option_c_minus_one", ["/V", "/C-1"],
    seq(BANNER, using(65535), version_open_failed(65535), CLOSING), 1,
    typed=[closing_key()], bound=15))
add(Scenario(
    "option_c_keeps_low_16_bits", ["/V", "/C65541"],
    seq(BANNER, using(5), version_ok(), CLOSING), 0,
    chargers=[Charger(5)], typed=[closing_key()],
    received={5: VER_CMD}, bound=15))
add(Scenario(
    # Any first argument with v as its second character asks for the version.
    "option_c_digits_then_letters", ["-v", "/c12abc"],
    seq(BANNER, using(12), version_ok(), CLOSING), 0,
    chargers=[Charger(12)], typed=[closing_key()],
    received={12: VER_CMD}, bound=15))
add(Scenario(
    "option_t_takes_one_digit", ["/V", "/T12"],
    seq(BANNER, using(1), version_open_failed(1)), 1, bound=15))
add(Scenario(
    "option_t_alone", ["/V", "/T"],
    seq(BANNER, using(65488), version_open_failed(65488)), 1, bound=15))
add(Scenario(
    "option_t_with_charger", ["/V", "/T5"],
    seq(BANNER, using(5), version_ok()), 0,
    chargers=[Charger(5)], received={5: VER_CMD}, bound=15))
for form in ["B12", "B1.x", "B1.", "B"]:
    add(Scenario(
        "option_malformed_" + form.replace(".", "_dot_").rstrip("_"), ["fw.hex", "/" + form],
        seq(BANNER, b"BootloaderTest parse failed " + form.encode() + b"\n", port_search([5]), using(5),
            current_version(), confirmation("fw.hex", False), CLOSING), 9,
        chargers=[Charger(5)], files={"fw.hex": FW_CRLF},
        typed=[answer(b"5"), key_at_confirmation(b"x"), closing_key()],
        received={5: VER_CMD}, bound=20))
add(Scenario(
    # The minimum is read but a version run does not check it.
    "option_b_in_version_run", ["/V", "/B1.9"],
    seq(BANNER, port_search([5]), using(5), version_ok(), CLOSING), 0,
    chargers=[Charger(5)], typed=[answer(b"5"), closing_key()],
    received={5: VER_CMD}, bound=15))
add(Scenario(
    # /C2 is taken as the file's name and fw.hex as an unknown option.
    "option_arguments_swapped", ["/C2", "fw.hex"],
    seq(BANNER, port_search([5]), using(5), current_version(), confirmation("/C2", False), CLOSING), 9,
    chargers=[Charger(5)], typed=[answer(b"5"), key_at_confirmation(b"x"), closing_key()],
    received={5: VER_CMD}, bound=20))

# --- the port search ----------------------------------------------------------

add(Scenario(
    "search_lists_present_ports", [],
    seq(BANNER, port_search([5, 7]), using(7), USAGE, CLOSING), 9,
    chargers=[Charger(5), Charger(7)], typed=[answer(b"7"), closing_key()],
    received={5: b"", 7: b""}, bound=15))
add(Scenario(
    "search_skips_busy_port", [],
    seq(BANNER, port_search([5, 7]), using(6), USAGE, CLOSING), 9,
    chargers=[Charger(5), Charger(6, held=True), Charger(7)], typed=[answer(b"6"), closing_key()],
    received={5: b"", 6: b"", 7: b""}, bound=15, native_only="exclusive"))

# --- the version run -------------------------------------------------------------

add(Scenario(
    "version_run", ["/V", "/C5"],
    seq(BANNER, using(5), version_ok(), CLOSING), 0,
    chargers=[Charger(5)], typed=[closing_key()], received={5: VER_CMD}, bound=15))
add(Scenario(
    "version_silent_charger", ["/V", "/C5", "ignored"],
    seq(BANNER, using(5), version_timeout(), CLOSING), 1,
    chargers=[Charger(5, ver=b"")], typed=[closing_key()], received={5: VER_CMD},
    duration=(15, 19), bound=30))
add(Scenario(
    "version_one_byte_reply", ["/V", "/C5"],
    seq(BANNER, using(5), version_timeout(), CLOSING), 1,
    chargers=[Charger(5, ver=b"X")], typed=[closing_key()], received={5: VER_CMD},
    duration=(15, 19), bound=30))
add(Scenario(
    "version_reply_without_line_end", ["/V", "/C5"],
    seq(BANNER, using(5), version_ok(b"Charger Firmware 4.12"), CLOSING), 0,
    chargers=[Charger(5, ver=b"Charger Firmware 4.12")], typed=[closing_key()], received={5: VER_CMD},
    duration=(15, 20), bound=30))
LONG_REPLY = bytes(b"0123456789abcdef"[i % 16] for i in range(1500)) + b"\r\n"
add(Scenario(
    "version_over_long_reply", ["/V", "/C5"],
    seq(BANNER, using(5), b"Getting Version\r" + LONG_REPLY[:1023] + b"\n\n", CLOSING), 0,
    chargers=[Charger(5, ver=LONG_REPLY)], typed=[closing_key()], received={5: VER_CMD}, bound=15))

# --- the bootloader check -----------------------------------------------------------


def bootloader_run(name, minimum, charger, check_text, exit_code, then_version=True):
    after = [current_version(), confirmation("fw.hex", False)] if then_version else []
    typed = [answer(b"5")] + ([key_at_confirmation(b"x")] if then_version else []) + [closing_key()]
    add(Scenario(
        name, ["fw.hex", "/B" + minimum],
        seq(BANNER, port_search([5]), using(5), check_text, after, CLOSING), exit_code,
        chargers=[charger], files={"fw.hex": FW_CRLF}, typed=typed,
        received={5: BTV_CMD + (VER_CMD if then_version else b"")}, bound=20))


bootloader_run("bootloader_equal_minimum", "1.7", Charger(5), bootloader_ok(), 9)
bootloader_run("bootloader_below_minimum", "1.8", Charger(5), bootloader_refused(b"1.8"), 1, then_version=False)
bootloader_run("bootloader_short_reply", "1.5", Charger(5, btv=b"Boot 1.7\r\n"),
               bootloader_unreadable(b"1.5", b"Boot 1.7\r\n"), 1, then_version=False)
# What the charger sends after the reply's LF is neither shown nor taken as
# the reply to the next command.
bootloader_run("bootloader_text_after_line_end", "1.5",
               Charger(5, btv=BTV_REPLY + b"LEFTOVER TEXT\r\n"), bootloader_ok(), 9)

# --- the programming run --------------------------------------------------------------


def programming(name, charger, expect_flash, exit_code, received_flash, content=FW_CRLF, key=b"P",
                final_version=None, final_query_received=True, hints=False, **extra):
    add(Scenario(
        name, ["fw.hex", "/C5"],
        seq(BANNER, using(5), current_version(), confirmation("fw.hex", True), expect_flash,
            new_version(final_version), HINTS if hints else b"", CLOSING), exit_code,
        chargers=[charger], files={"fw.hex": content},
        typed=[key_at_confirmation(key), closing_key()],
        received={5: VER_CMD + received_flash + (VER_CMD if final_query_received else b"")},
        **extra))


def flash_ok(content=FW_CRLF, second_erase=False, replies=None):
    return seq(b"Reprogramming With fw.hex\n", erase_done(second_erase=second_erase),
               transfer(content, replies), closing_success())


programming("program_crlf_file", Charger(5), flash_ok(), 0, ERASE_CMD + sent_bytes(FW_CRLF),
            last_percent=100, bound=30)
programming("program_lf_file_lower_case_key", Charger(5), flash_ok(FW_LF), 0, ERASE_CMD + sent_bytes(FW_LF),
            content=FW_LF, key=b"p", last_percent=102, bound=30)
programming("program_long_line_in_two_pieces", Charger(5), flash_ok(LONG_FILE), 0,
            ERASE_CMD + sent_bytes(LONG_FILE), content=LONG_FILE, counters={5: {"pieces": 5}}, bound=30)
# Whatever a complete reply says, it is shown and the transfer goes on.
ODD_REPLIES = {2: b"\x02Chk\x01ok\r\n", 3: b"ERR 17\r\n"}
programming("program_replies_shown_as_sent", Charger(5, reply_at=ODD_REPLIES), flash_ok(replies=ODD_REPLIES), 0,
            ERASE_CMD + sent_bytes(FW_CRLF), bound=30)
# A NUL before the LF cuts the reply short of its CR LF: it is incomplete.
programming("reply_with_nul_is_incomplete", Charger(5, reply_at={6: b"\0OK\r\n"}),
            seq(b"Reprogramming With fw.hex\n", erase_done(), transfer(FW_CRLF, stop_after=6),
                b"\nError: Programming Failure: [0]OK\n", closing(Elapsed(0, 5))), 1,
            ERASE_CMD + sent_bytes(FW_CRLF), bound=30)
programming("erase_echo_skipped", Charger(5, erase_echo=True), flash_ok(), 0,
            ERASE_CMD + sent_bytes(FW_CRLF), bound=30)
programming("erase_asked_twice", Charger(5, erase_first=b"Confirm ERASE\r\n"), flash_ok(second_erase=True), 0,
            ERASE_CMD + ERASE_CMD + sent_bytes(FW_CRLF), bound=30)
programming("erase_unanswered", Charger(5, erase_silent=True),
            seq(b"Reprogramming With fw.hex\nErasing Flash", TIMEOUT_TEXT, b"\r[]", TIMEOUT_TEXT, b"[]",
                b"\rError: Erasing Flash              \n\n", closing(Elapsed(14, 17))), 1,
            ERASE_CMD, bound=45)
programming("reply_missing_at_line_3", Charger(5, reply_at={3: b""}),
            seq(b"Reprogramming With fw.hex\n", erase_done(), transfer(FW_CRLF, stop_after=3),
                TIMEOUT_TEXT, b"\nError: Programming Failure: []\n", closing(Elapsed(6, 9))), 1,
            ERASE_CMD + b"".join(text_pieces(FW_CRLF)[:3]),
            # The charger still waits for the rest of line 4 and does not
            # answer the last version query.
            final_version=version_timeout(), hints=True, bound=50)
WRONG_FINAL = b"Update 100% done %s\r\n"
programming("final_acknowledgement_wrong", Charger(5, final=WRONG_FINAL),
            seq(b"Reprogramming With fw.hex\n", erase_done(), transfer(FW_CRLF),
                b"\rReprogramming Completed : Error No Final ACK\n" + WRONG_FINAL + b"\n",
                closing(Elapsed(0, 5))), 1,
            ERASE_CMD + sent_bytes(FW_CRLF), bound=30)
programming("hangup_during_transfer", Charger(5, hangup_after=3),
            seq(b"Reprogramming With fw.hex\n", erase_done(), transfer(FW_CRLF, stop_after=3),
                b"Error: Reading Comport\n", TIMEOUT_TEXT, b"\nError: Programming Failure: []\n",
                closing(Elapsed(0, 5))), 1,
            ERASE_CMD + b"".join(text_pieces(FW_CRLF)[:3]),
            final_version=version_open_failed(5), final_query_received=False, hints=True, bound=30,
            native_only="hangup")
programming("last_version_query_fails", Charger(5, exit_after_final=True), flash_ok(), 0,
            ERASE_CMD + sent_bytes(FW_CRLF), final_version=version_open_failed(5), final_query_received=False,
            bound=30)


def refused_before_erase(name, file_name, content, message):
    add(Scenario(
        name, [file_name, "/C5"],
        seq(BANNER, using(5), current_version(), confirmation(file_name, True),
            b"Reprogramming With " + file_name.encode() + b"\n" + message, closing(),
            new_version(), CLOSING), 1,
        chargers=[Charger(5)], files={file_name: content},
        typed=[key_at_confirmation(b"P"), closing_key()],
        received={5: VER_CMD + VER_CMD}, bound=20))


refused_before_erase("preflight_no_end_record", "noeof.hex", NO_EOF_FILE,
                     b"Error: No end-of-file record in noeof.hex, charger not erased\n")
refused_before_erase("preflight_bad_checksum_line_3", "badsum.hex", BAD_SUM_FILE,
                     b"Error: Bad record on line 3 of badsum.hex, charger not erased\n")
add(Scenario(
    "program_missing_file", ["missing.hex", "/C5"],
    seq(BANNER, using(5), current_version(), confirmation("missing.hex", True),
        b"Error opening missing.hex\n", closing(), new_version(), CLOSING), 1,
    chargers=[Charger(5)], typed=[key_at_confirmation(b"P"), closing_key()],
    received={5: VER_CMD + VER_CMD}, bound=20))
add(Scenario(
    # The P typed with the port number, before the confirmation, is thrown
    # away; the x typed at the confirmation cancels.
    "confirmation_ignores_keys_typed_ahead", ["fw.hex"],
    seq(BANNER, port_search([5]), using(5), current_version(), confirmation("fw.hex", False), CLOSING), 9,
    chargers=[Charger(5)], files={"fw.hex": FW_CRLF},
    typed=[Typed(PROMPT, b"5" + ENTER + b"P"), key_at_confirmation(b"x"), closing_key()],
    received={5: VER_CMD}, bound=20))
add(Scenario(
    "confirmation_cancelled_by_arrow_key", ["fw.hex", "/C5"],
    seq(BANNER, using(5), current_version(), confirmation("fw.hex", False), CLOSING), 9,
    chargers=[Charger(5)], files={"fw.hex": FW_CRLF},
    typed=[key_at_confirmation(b"\x1b[A"), closing_key()],
    received={5: VER_CMD}, bound=20))
add(Scenario(
    # The charger misses the first query and answers the one retry.
    "version_retried_once", ["fw.hex", "/C5"],
    seq(BANNER, using(5), current_version(version_timeout()), b"Trying Again...\n", current_version(),
        confirmation("fw.hex", False), CLOSING), 9,
    chargers=[Charger(5, ver_silent_first=1)], files={"fw.hex": FW_CRLF},
    typed=[key_at_confirmation(b"x"), closing_key()],
    received={5: VER_CMD + VER_CMD}, bound=40))
add(Scenario(
    "port_without_device", ["fw.hex", "/C9"],
    seq(BANNER, using(9), current_version(version_open_failed(9)), b"Trying Again...\n",
        current_version(version_open_failed(9)), confirmation("fw.hex", True),
        b"Error: Comm Port 9 Open Failed\n", closing(), new_version(version_open_failed(9)), HINTS, CLOSING), 1,
    files={"fw.hex": FW_CRLF}, typed=[key_at_confirmation(b"P"), closing_key()], bound=20))


def by_name(name):
    for scenario in SCENARIOS:
        if scenario.name == name:
            return scenario
    return None
