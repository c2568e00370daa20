"""Message tables: `text` holds the framework's templates in English; `chinese.text` in Chinese."""
