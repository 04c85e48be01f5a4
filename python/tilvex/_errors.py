"""The exception the package raises where the program would refuse, and the
warning it issues where the program would warn."""


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


class TilvexWarning(UserWarning):
    """What the program warns of in an input (its health): ``code`` as in
    tilvex-grid's notes column ("cut", "swapped", "phi", ...), ``line`` the
    first line it is seen at, ``count`` how many times; str() gives the
    program's words."""

    def __init__(self, text: str, code: str = "", line: int = 0, count: int = 0):
        super().__init__(text)
        self.code = code
        self.line = line
        self.count = count
