"""velora-server: a self-hostable Velora review service (HTTP API, storage PUT, WebSocket relay)."""

VERSION = "1.0"
