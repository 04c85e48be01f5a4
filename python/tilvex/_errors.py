"""The exception the package raises where the program would refuse, and the
warning it issues where the program would warn."""

import errno as _errno
import os as _os


class TilvexError(Exception):
    """A refusal of the program: ``message`` is what tilvex prints on standard
    output ("unable to read run.vrin"), ``reason`` what it says on standard
    error."""

    def __init__(self, message: str, reason: str = ""):
        super().__init__(message, reason)
        self.message = message
        self.reason = reason

    def __str__(self) -> str:
        return f"{self.message}: {self.reason}" if self.reason else self.message


class TilvexOSError(TilvexError, OSError):
    """A file that cannot be opened or read: a TilvexError (``message``,
    ``reason`` and str() as the program gives them) that is also an OSError,
    with ``errno``, ``strerror`` and ``filename`` set, so that
    ``except OSError`` catches it as it catches open()'s errors."""

    def __init__(self, message: str, reason: str = "", errno: int = 0, filename: str = None):
        OSError.__init__(self, errno, _os.strerror(errno), filename)
        self.args = (message, reason)
        self.message = message
        self.reason = reason

    def __reduce__(self):
        return type(self), (self.message, self.reason, self.errno, self.filename)


class TilvexFileNotFoundError(TilvexOSError, FileNotFoundError):
    """A file that does not exist (errno ENOENT): also a FileNotFoundError."""


def _file_error(message, reason, number, filename):
    """The error of a file the program cannot open or read (errno `number`)."""
    kind = TilvexFileNotFoundError if number == _errno.ENOENT else TilvexOSError
    return kind(message, reason, number, filename)


class TilvexWarning(UserWarning):
    """What the program warns of (on standard error), in its words (str()).
    Of an input's health: ``code`` as in tilvex-grid's notes column ("cut",
    "swapped", "phi", ...), ``line`` the first line it is seen at, ``count``
    how many times. Of a confidence level at or below 1 or above 100 per
    cent: ``code`` "level", ``line`` and ``count`` 0."""

    def __init__(self, text: str, code: str = "", line: int = 0, count: int = 0):
        super().__init__(text)
        self.code = code
        self.line = line
        self.count = count
