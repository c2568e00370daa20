"""The developer-experience tests share api_surface (what the compiled modules publish)."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
