"""The exception the package raises where the program would refuse."""


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
