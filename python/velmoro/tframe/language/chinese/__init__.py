"""Chinese templates (`templates`) and the message table read from this path (`text`)."""
